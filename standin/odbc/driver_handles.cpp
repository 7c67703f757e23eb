// The stand-in's handles: allocation and release, environment, connection
// and statement attributes, transactions (auto-commit only) and the
// diagnostics calls.
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "driver.h"

namespace standin {

SQLRETURN Handle::Error(std::string sqlstate, SQLINTEGER native, std::string message) {
  diag.Add(std::move(sqlstate), native, std::move(message));
  return SQL_ERROR;
}

void Handle::Warn(std::string sqlstate, const std::string& message) {
  diag.Add(std::move(sqlstate), 0, kDriverPrefix + message);
}

namespace {

// The live handles and their kinds. A pointer is compared, never followed,
// until it is found here.
struct Registry {
  std::mutex mu;
  std::unordered_map<const void*, HandleKind> live;
};

Registry& Handles() {
  static Registry* r = new Registry();  // never destroyed: handles may outlive static destruction
  return *r;
}

bool IsLive(SQLHANDLE h, HandleKind kind) {
  if (h == nullptr) return false;
  Registry& r = Handles();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.live.find(h);
  return it != r.live.end() && it->second == kind;
}

}  // namespace

Handle::Handle(HandleKind k) {
  Registry& r = Handles();
  std::lock_guard<std::mutex> lock(r.mu);
  r.live[this] = k;
}

Handle::~Handle() {
  Registry& r = Handles();
  std::lock_guard<std::mutex> lock(r.mu);
  r.live.erase(this);
}

// Env, Dbc and Stmt derive from Handle alone, so a handle's address is its
// Handle's address.
Env* AsEnv(SQLHANDLE h) { return IsLive(h, HandleKind::Env) ? static_cast<Env*>(static_cast<Handle*>(h)) : nullptr; }

Dbc* AsDbc(SQLHANDLE h) { return IsLive(h, HandleKind::Dbc) ? static_cast<Dbc*>(static_cast<Handle*>(h)) : nullptr; }

Stmt* AsStmt(SQLHANDLE h) {
  return IsLive(h, HandleKind::Stmt) ? static_cast<Stmt*>(static_cast<Handle*>(h)) : nullptr;
}

Handle* AsHandle(SQLSMALLINT type, SQLHANDLE h) {
  switch (type) {
    case SQL_HANDLE_ENV: return AsEnv(h);
    case SQL_HANDLE_DBC: return AsDbc(h);
    case SQL_HANDLE_STMT: return AsStmt(h);
    default: return nullptr;
  }
}

std::string TextIn(const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return std::string();
  const char* p = reinterpret_cast<const char*>(text);
  if (length == SQL_NTS) return std::string(p);
  if (length < 0) return std::string();
  return std::string(p, static_cast<std::size_t>(length));
}

void FreeStmt(Stmt* s) {
  s->dbc->statements.erase(s);
  delete s;
}

Dbc::~Dbc() { Disconnect(); }

void Dbc::Disconnect() {
  while (!statements.empty()) FreeStmt(*statements.begin());
  db.Close();
  journal.Close();
  connected = false;
  dropped = false;
  faults = nullptr;
  freetds = false;
}

namespace {

SQLRETURN AllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  if (output == nullptr) return SQL_ERROR;
  *output = SQL_NULL_HANDLE;
  switch (type) {
    case SQL_HANDLE_ENV: {
      *output = new Env();
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Env* env = AsEnv(input);
      if (env == nullptr) return SQL_INVALID_HANDLE;
      env->diag.Clear();
      auto* dbc = new Dbc(env);
      env->connections.insert(dbc);
      *output = dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Dbc* dbc = AsDbc(input);
      if (dbc == nullptr) return SQL_INVALID_HANDLE;
      dbc->diag.Clear();
      if (!dbc->connected) return dbc->Done(dbc->Error("08003", 0, std::string(kDriverPrefix) + "Connection not open"));
      if (dbc->faults != nullptr && dbc->faults->FailStmtAlloc()) {
        return dbc->Done(dbc->Error(
            "HY001", 0,
            std::string(kDriverPrefix) + "Memory allocation error (statement handle refused by the control file)"));
      }
      if (dbc->dropped) {
        return dbc->Done(dbc->Error("08S01", 10054, std::string(kNetPrefix) + "Communication link failure"));
      }
      auto* stmt = new Stmt(dbc);
      dbc->statements.insert(stmt);
      *output = stmt;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DESC: {
      Dbc* dbc = AsDbc(input);
      if (dbc == nullptr) return SQL_INVALID_HANDLE;
      dbc->diag.Clear();
      return dbc->Done(dbc->Error("HYC00", 0, std::string(kDriverPrefix) + "Descriptors are not supported"));
    }
    default: return SQL_ERROR;
  }
}

SQLRETURN FreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      Env* env = AsEnv(handle);
      if (env == nullptr) return SQL_INVALID_HANDLE;
      env->diag.Clear();
      if (!env->connections.empty()) {
        return env->Error("HY010", 0, std::string(kDriverPrefix) + "Function sequence error (connections remain)");
      }
      delete env;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Dbc* dbc = AsDbc(handle);
      if (dbc == nullptr) return SQL_INVALID_HANDLE;
      dbc->diag.Clear();
      if (dbc->connected) {
        return dbc->Error("HY010", 0, std::string(kDriverPrefix) + "Function sequence error (still connected)");
      }
      dbc->env->connections.erase(dbc);
      delete dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Stmt* stmt = AsStmt(handle);
      if (stmt == nullptr) return SQL_INVALID_HANDLE;
      FreeStmt(stmt);
      return SQL_SUCCESS;
    }
    default: return SQL_INVALID_HANDLE;
  }
}

// Writes an integer attribute value.
template <typename T>
void PutValue(SQLPOINTER out, T value) {
  if (out != nullptr) std::memcpy(out, &value, sizeof value);
}

bool IsStringConnectAttr(SQLINTEGER attr) {
  return attr == SQL_ATTR_CURRENT_CATALOG || attr == SQL_ATTR_TRACEFILE || attr == SQL_ATTR_TRANSLATE_LIB;
}

SQLRETURN SetConnectAttr(Dbc* c, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length) {
  if (IsStringConnectAttr(attr)) {
    if (attr == SQL_ATTR_CURRENT_CATALOG) c->currentCatalog = TextIn(static_cast<SQLCHAR*>(value), length);
    return SQL_SUCCESS;
  }
  // Every statement commits on its own; a client that asks for manual
  // commit (pyodbc does by default) is accepted and still auto-commits,
  // which the stand-in documents.
  c->attributes[attr] = reinterpret_cast<SQLULEN>(value);
  return SQL_SUCCESS;
}

SQLRETURN GetConnectAttr(Dbc* c, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER bufferLength, SQLINTEGER* length) {
  if (IsStringConnectAttr(attr)) {
    return TextOut(c, attr == SQL_ATTR_CURRENT_CATALOG ? c->currentCatalog : std::string(), value, bufferLength,
                   length);
  }
  switch (attr) {
    case SQL_ATTR_AUTOCOMMIT: PutValue<SQLUINTEGER>(value, SQL_AUTOCOMMIT_ON); return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_DEAD:
      PutValue<SQLUINTEGER>(value, c->connected && !c->dropped ? SQL_CD_FALSE : SQL_CD_TRUE);
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE: PutValue<SQLUINTEGER>(value, SQL_MODE_READ_WRITE); return SQL_SUCCESS;
    case SQL_ATTR_TXN_ISOLATION: PutValue<SQLUINTEGER>(value, SQL_TXN_READ_COMMITTED); return SQL_SUCCESS;
    default: break;
  }
  auto found = c->attributes.find(attr);
  if (found == c->attributes.end()) {
    PutValue<SQLUINTEGER>(value, 0);
    return SQL_SUCCESS;
  }
  PutValue<SQLUINTEGER>(value, static_cast<SQLUINTEGER>(found->second));
  return SQL_SUCCESS;
}

SQLRETURN SetStmtAttr(Stmt* s, SQLINTEGER attr, SQLPOINTER value) {
  SQLULEN v = reinterpret_cast<SQLULEN>(value);
  switch (attr) {
    case SQL_ATTR_ROWS_FETCHED_PTR: s->rowsFetchedPtr = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR: s->rowStatusPtr = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE:
      if (v != 1) {
        s->Warn("01S02", "Option value changed (one row per fetch)");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_TYPE:
      if (v != SQL_CURSOR_FORWARD_ONLY) {
        s->Warn("01S02", "Option value changed (forward-only cursor)");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_CONCURRENCY:
      if (v != SQL_CONCUR_READ_ONLY) {
        s->Warn("01S02", "Option value changed (read-only cursor)");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
      // The driver manager asks for all four at every statement allocation
      // and never reads the message: it is written only when asked for.
      s->diag.Add("HYC00", 0, std::string());
      s->diag.records.back().pending = [] { return std::string(kDriverPrefix) + "Descriptors are not supported"; };
      return SQL_ERROR;
    default: s->attributes[attr] = v; return SQL_SUCCESS;
  }
}

SQLRETURN GetStmtAttr(Stmt* s, SQLINTEGER attr, SQLPOINTER value) {
  switch (attr) {
    case SQL_ATTR_ROWS_FETCHED_PTR: PutValue<SQLPOINTER>(value, s->rowsFetchedPtr); return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR: PutValue<SQLPOINTER>(value, s->rowStatusPtr); return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE: PutValue<SQLULEN>(value, 1); return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_TYPE: PutValue<SQLULEN>(value, SQL_CURSOR_FORWARD_ONLY); return SQL_SUCCESS;
    case SQL_ATTR_CONCURRENCY: PutValue<SQLULEN>(value, SQL_CONCUR_READ_ONLY); return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SCROLLABLE: PutValue<SQLULEN>(value, SQL_NONSCROLLABLE); return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SENSITIVITY: PutValue<SQLULEN>(value, SQL_INSENSITIVE); return SQL_SUCCESS;
    case SQL_ATTR_ROW_NUMBER: PutValue<SQLULEN>(value, 0); return SQL_SUCCESS;
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
      // The driver manager asks for all four at every statement allocation
      // and never reads the message: it is written only when asked for.
      s->diag.Add("HYC00", 0, std::string());
      s->diag.records.back().pending = [] { return std::string(kDriverPrefix) + "Descriptors are not supported"; };
      return SQL_ERROR;
    default: {
      auto found = s->attributes.find(attr);
      PutValue<SQLULEN>(value, found == s->attributes.end() ? 0 : found->second);
      return SQL_SUCCESS;
    }
  }
}

// The "class origin" of a SQLSTATE: ODBC's own classes versus ISO's.
std::string ClassOrigin(const std::string& sqlstate) {
  if (sqlstate.size() >= 2 && sqlstate.compare(0, 2, "IM") == 0) return "ODBC 3.0";
  return "ISO 9075";
}

std::string SubclassOrigin(const std::string& sqlstate) {
  static const char* const kOdbc[] = {"01S00", "01S01", "01S02", "01S06", "01S07", "07S01", "08S01", "21S01", "21S02",
                                      "25S01", "25S02", "25S03", "42S01", "42S02", "42S11", "42S12", "42S21", "42S22",
                                      "HY095", "HY097", "HY098", "HY099", "HY100", "HY101", "HY105", "HY107", "HY109",
                                      "HY110", "HY111", "HYT00", "HYT01", "IM001", "IM002", "IM003", "IM004", "IM005",
                                      "IM006", "IM007", "IM008", "IM010", "IM011", "IM012"};
  for (const char* s : kOdbc) {
    if (sqlstate == s) return "ODBC 3.0";
  }
  return "ISO 9075";
}

SQLRETURN GetDiagRec(Handle* h, SQLSMALLINT rec, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                     SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
  if (rec <= 0 || bufferLength < 0) return SQL_ERROR;
  if (static_cast<std::size_t>(rec) > h->diag.records.size()) return SQL_NO_DATA;
  DiagRecord& r = h->diag.records[static_cast<std::size_t>(rec) - 1];
  const std::string& text = r.Text();
  if (state != nullptr) {
    std::memset(state, 0, 6);
    r.sqlstate.copy(reinterpret_cast<char*>(state), 5);
  }
  if (native != nullptr) *native = r.native;
  // A cut message is a warning of this call only; it must not add a record.
  if (textLength != nullptr) *textLength = static_cast<SQLSMALLINT>(text.size());
  if (message == nullptr) return SQL_SUCCESS;
  if (bufferLength == 0) return text.empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  std::size_t room = static_cast<std::size_t>(bufferLength) - 1;
  std::size_t n = text.size() < room ? text.size() : room;
  text.copy(reinterpret_cast<char*>(message), n);
  message[n] = '\0';
  return n < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN DiagText(const std::string& value, SQLPOINTER buffer, SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  if (length != nullptr) *length = static_cast<SQLSMALLINT>(value.size());
  if (buffer == nullptr) return SQL_SUCCESS;
  if (bufferLength <= 0) return value.empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  std::size_t room = static_cast<std::size_t>(bufferLength) - 1;
  std::size_t n = value.size() < room ? value.size() : room;
  value.copy(static_cast<char*>(buffer), n);
  static_cast<char*>(buffer)[n] = '\0';
  return n < value.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN GetDiagField(SQLSMALLINT type, Handle* h, SQLSMALLINT rec, SQLSMALLINT id, SQLPOINTER info,
                       SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  Diagnostics& d = h->diag;
  switch (id) {  // header fields
    case SQL_DIAG_NUMBER: PutValue<SQLINTEGER>(info, static_cast<SQLINTEGER>(d.records.size())); return SQL_SUCCESS;
    case SQL_DIAG_RETURNCODE: PutValue<SQLRETURN>(info, d.returnCode); return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (type != SQL_HANDLE_STMT) return SQL_ERROR;
      PutValue<SQLLEN>(info, d.rowCount);
      return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (type != SQL_HANDLE_STMT) return SQL_ERROR;
      return DiagText("", info, bufferLength, length);
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (type != SQL_HANDLE_STMT) return SQL_ERROR;
      PutValue<SQLINTEGER>(info, SQL_DIAG_UNKNOWN_STATEMENT);
      return SQL_SUCCESS;
    default: break;
  }
  if (rec <= 0) return SQL_ERROR;
  if (static_cast<std::size_t>(rec) > d.records.size()) return SQL_NO_DATA;
  DiagRecord& r = d.records[static_cast<std::size_t>(rec) - 1];
  switch (id) {
    case SQL_DIAG_SQLSTATE: return DiagText(r.sqlstate, info, bufferLength, length);
    case SQL_DIAG_NATIVE: PutValue<SQLINTEGER>(info, r.native); return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT: return DiagText(r.Text(), info, bufferLength, length);
    case SQL_DIAG_CLASS_ORIGIN: return DiagText(ClassOrigin(r.sqlstate), info, bufferLength, length);
    case SQL_DIAG_SUBCLASS_ORIGIN: return DiagText(SubclassOrigin(r.sqlstate), info, bufferLength, length);
    case SQL_DIAG_CONNECTION_NAME: return DiagText("", info, bufferLength, length);
    case SQL_DIAG_SERVER_NAME: return DiagText("kranzel-standin", info, bufferLength, length);
    case SQL_DIAG_COLUMN_NUMBER:
      if (type != SQL_HANDLE_STMT) return SQL_ERROR;
      PutValue<SQLINTEGER>(info, SQL_COLUMN_NUMBER_UNKNOWN);
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_NUMBER:
      if (type != SQL_HANDLE_STMT) return SQL_ERROR;
      PutValue<SQLLEN>(info, SQL_ROW_NUMBER_UNKNOWN);
      return SQL_SUCCESS;
    default: return SQL_ERROR;
  }
}

}  // namespace
}  // namespace standin

using namespace standin;

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT HandleType, SQLHANDLE InputHandle, SQLHANDLE* OutputHandle) {
  return AllocHandle(HandleType, InputHandle, OutputHandle);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT HandleType, SQLHANDLE AnyHandle) {
  return FreeHandle(HandleType, AnyHandle);
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                SQLINTEGER /*StringLength*/) {
  Env* env = AsEnv(EnvironmentHandle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->diag.Clear();
  switch (Attribute) {
    case SQL_ATTR_ODBC_VERSION:
      env->odbcVersion = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(Value));
      return SQL_SUCCESS;
    case SQL_ATTR_OUTPUT_NTS:
      env->outputNts = static_cast<SQLUINTEGER>(reinterpret_cast<SQLULEN>(Value));
      return SQL_SUCCESS;
    default: return SQL_SUCCESS;  // connection pooling and the like: nothing to do
  }
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                SQLINTEGER /*BufferLength*/, SQLINTEGER* StringLength) {
  Env* env = AsEnv(EnvironmentHandle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->diag.Clear();
  if (StringLength != nullptr) *StringLength = sizeof(SQLINTEGER);
  switch (Attribute) {
    case SQL_ATTR_ODBC_VERSION: PutValue<SQLINTEGER>(Value, env->odbcVersion); return SQL_SUCCESS;
    case SQL_ATTR_OUTPUT_NTS: PutValue<SQLINTEGER>(Value, static_cast<SQLINTEGER>(env->outputNts)); return SQL_SUCCESS;
    default: PutValue<SQLINTEGER>(Value, 0); return SQL_SUCCESS;
  }
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                    SQLINTEGER StringLength) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  return c->Done(SetConnectAttr(c, Attribute, Value, StringLength));
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                    SQLINTEGER BufferLength, SQLINTEGER* StringLength) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  return c->Done(GetConnectAttr(c, Attribute, Value, BufferLength, StringLength));
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT StatementHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                 SQLINTEGER /*StringLength*/) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  return s->Done(SetStmtAttr(s, Attribute, Value));
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT StatementHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                 SQLINTEGER /*BufferLength*/, SQLINTEGER* /*StringLength*/) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  return s->Done(GetStmtAttr(s, Attribute, Value));
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT HandleType, SQLHANDLE AnyHandle, SQLSMALLINT /*CompletionType*/) {
  // Every statement has committed on its own already: nothing is pending.
  Handle* h = AsHandle(HandleType, AnyHandle);
  if (h == nullptr || HandleType == SQL_HANDLE_STMT) return SQL_INVALID_HANDLE;
  h->diag.Clear();
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT HandleType, SQLHANDLE AnyHandle, SQLSMALLINT RecNumber, SQLCHAR* Sqlstate,
                                SQLINTEGER* NativeError, SQLCHAR* MessageText, SQLSMALLINT BufferLength,
                                SQLSMALLINT* TextLength) {
  Handle* h = AsHandle(HandleType, AnyHandle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  return GetDiagRec(h, RecNumber, Sqlstate, NativeError, MessageText, BufferLength, TextLength);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT HandleType, SQLHANDLE AnyHandle, SQLSMALLINT RecNumber,
                                  SQLSMALLINT DiagIdentifier, SQLPOINTER DiagInfo, SQLSMALLINT BufferLength,
                                  SQLSMALLINT* StringLength) {
  Handle* h = AsHandle(HandleType, AnyHandle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  return GetDiagField(HandleType, h, RecNumber, DiagIdentifier, DiagInfo, BufferLength, StringLength);
}

}  // extern "C"
