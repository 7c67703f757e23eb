// The stand-in's ODBC handles (environment, connection, statement), their
// diagnostics, and the helpers the entry points share. The entry points
// themselves (extern "C" SQL... functions) live in driver_*.cpp and only
// check their handle, clear its diagnostics and call into these.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "faults.h"
#include "journal.h"
#include "tsql.h"

namespace standin {

// Prefixes of the diagnostic messages, as a SQL Server driver words them:
// the driver's own complaints carry the first, the server's errors both.
inline constexpr const char* kDriverPrefix = "[KranzelStandin]";
inline constexpr const char* kServerPrefix = "[KranzelStandin][SQL Server]";
inline constexpr const char* kNetPrefix = "[KranzelStandin][DBNETLIB]";

struct DiagRecord {
  std::string sqlstate;
  SQLINTEGER native = 0;
  std::string message;
  // Builds `message` when a client first asks for it (a duplicate key's
  // message reads the key back); the statement handle that holds it is
  // freed before its connection's database is closed.
  std::function<std::string()> pending;

  const std::string& Text() {
    if (pending) {
      message = pending();
      pending = nullptr;
    }
    return message;
  }
};

// The diagnostics area of one handle; cleared at the start of every call on
// the handle except the diagnostic calls themselves.
struct Diagnostics {
  std::vector<DiagRecord> records;
  SQLRETURN returnCode = SQL_SUCCESS;
  SQLLEN rowCount = -1;  // of the last execution; kept until the next one

  void Clear() {
    records.clear();
    returnCode = SQL_SUCCESS;
  }
  void Add(std::string sqlstate, SQLINTEGER native, std::string message) {
    records.push_back({std::move(sqlstate), native, std::move(message), nullptr});
  }
};

enum class HandleKind { Env, Dbc, Stmt };

// Every handle is entered in a process-wide registry of live handles when it
// is made and removed when it is destroyed; the handle checks (AsEnv, ...)
// look a pointer up there instead of reading through it, so a freed (stale)
// or foreign pointer gets SQL_INVALID_HANDLE without touching its memory.
struct Handle {
  explicit Handle(HandleKind k);
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Diagnostics diag;

  // Records an error and returns SQL_ERROR.
  SQLRETURN Error(std::string sqlstate, SQLINTEGER native, std::string message);
  // Records a warning (SQL_SUCCESS_WITH_INFO) without changing the result.
  void Warn(std::string sqlstate, const std::string& message);
  // Finishes a call: remembers its return code for SQL_DIAG_RETURNCODE.
  SQLRETURN Done(SQLRETURN rc) {
    diag.returnCode = rc;
    return rc;
  }
};

struct Stmt;

struct Env : Handle {
  Env() : Handle(HandleKind::Env) {}
  SQLINTEGER odbcVersion = SQL_OV_ODBC2;
  SQLUINTEGER outputNts = SQL_TRUE;
  std::set<struct Dbc*> connections;
};

// What a connection is configured with: the DSN's attributes (odbc.ini),
// overridden by the keys of a connection string.
struct ConnectSettings {
  std::string dsn;
  std::string database;
  std::string expectedUser;      // DSN attribute User
  std::string expectedPassword;  // DSN attribute Password
  std::string journal;
  std::string noRowCountMode;
  std::string control;
  std::string uid;  // the credentials the client offers
  std::string pwd;
};

struct Dbc : Handle {
  explicit Dbc(Env* e) : Handle(HandleKind::Dbc), env(e) {}
  ~Dbc();
  Env* env;
  bool connected = false;
  tsql::Database db;
  ConnectSettings settings;
  bool freetds = false;  // NoRowCountMode=freetds
  Journal journal;       // statements received, when the DSN names one
  FaultState* faults = nullptr;
  bool dropped = false;  // drop_after fired on this connection
  std::set<Stmt*> statements;
  std::map<SQLINTEGER, SQLULEN> attributes;
  std::string currentCatalog;

  // Closes the database, the journal and every statement of the connection.
  void Disconnect();
};

// A column of a result set as SQLDescribeCol and SQLColAttribute tell it.
struct ColumnInfo {
  std::string name;
  std::string tableName;
  std::string baseColumnName;
  std::string typeName;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN size = 255;
  SQLSMALLINT decimals = 0;
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
  SQLLEN displaySize = 255;
  SQLLEN octetLength = 255;
  bool isUnsigned = false;
};

struct Binding {
  SQLSMALLINT cType = SQL_C_CHAR;
  SQLPOINTER target = nullptr;
  SQLLEN length = 0;
  SQLLEN* indicator = nullptr;
};

struct Stmt : Handle {
  explicit Stmt(Dbc* d) : Handle(HandleKind::Stmt), dbc(d) {}
  Dbc* dbc;
  std::string text;  // the statement last prepared or executed
  bool prepared = false;
  tsql::Execution ex;
  bool onRow = false;  // a row has been fetched and is current
  bool haveColumns = false;
  std::vector<ColumnInfo> columns;
  std::map<SQLUSMALLINT, Binding> bindings;
  // SQLGetData's position within the current row.
  SQLUSMALLINT getDataColumn = 0;
  std::size_t getDataOffset = 0;
  bool getDataDone = false;
  // Statement attributes.
  SQLULEN* rowsFetchedPtr = nullptr;
  SQLUSMALLINT* rowStatusPtr = nullptr;
  std::map<SQLINTEGER, SQLULEN> attributes;

  // Closes the cursor (result set) if one is open.
  void CloseCursor();
  // The column descriptions of the open result set (built once per result).
  const std::vector<ColumnInfo>& Columns();
  // Number of columns of the open result set (0 without one).
  [[nodiscard]] SQLSMALLINT ColumnCount() const;
};

// Handle checks: the pointer as a typed handle, or null when it is not one.
Env* AsEnv(SQLHANDLE h);
Dbc* AsDbc(SQLHANDLE h);
Stmt* AsStmt(SQLHANDLE h);
Handle* AsHandle(SQLSMALLINT type, SQLHANDLE h);

// Text in from ODBC: (pointer, length or SQL_NTS).
std::string TextIn(const SQLCHAR* text, SQLINTEGER length);

// Copies `value` into an ODBC character buffer of `bufferLength` bytes,
// terminated, with the full length in *outLength. A cut value records 01004
// on `h` and returns SQL_SUCCESS_WITH_INFO.
template <typename LenT>
SQLRETURN TextOut(Handle* h, const std::string& value, SQLPOINTER buffer, SQLLEN bufferLength, LenT* outLength) {
  if (outLength != nullptr) *outLength = static_cast<LenT>(value.size());
  if (buffer == nullptr) return SQL_SUCCESS;
  if (bufferLength <= 0) {
    if (value.empty()) return SQL_SUCCESS;
    h->Warn("01004", "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
  }
  char* out = static_cast<char*>(buffer);
  std::size_t room = static_cast<std::size_t>(bufferLength) - 1;
  std::size_t n = value.size() < room ? value.size() : room;
  value.copy(out, n);
  out[n] = '\0';
  if (n < value.size()) {
    h->Warn("01004", "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

// Runs a statement text on `s` (SQLExecDirect, SQLExecute).
SQLRETURN ExecuteText(Stmt* s, const std::string& text);

// Connects `c` with `settings` (SQLConnect, SQLDriverConnect).
SQLRETURN ConnectWith(Dbc* c, const ConnectSettings& settings);

// Reads the attributes of DSN `dsn` from odbc.ini into `settings`.
void ReadDsn(const std::string& dsn, ConnectSettings& settings);

// Frees a statement handle (also used by SQLFreeStmt(SQL_DROP)).
void FreeStmt(Stmt* s);

}  // namespace standin
