// Connecting: the DSN's attributes (odbc.ini) or a connection string, the
// login check, the faults that refuse a connect, the journal; and what the
// driver tells about itself (SQLGetInfo, SQLGetFunctions).
#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <variant>

#include "driver.h"

namespace standin {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string DsnValue(const std::string& dsn, const char* key) {
  // odbc.ini values are short paths and names; 4096 bytes hold any path.
  std::string buf(4096, '\0');
  int n = SQLGetPrivateProfileString(dsn.c_str(), key, "", buf.data(), static_cast<int>(buf.size()), "odbc.ini");
  if (n <= 0) return std::string();
  buf.resize(std::strlen(buf.c_str()));
  return Trim(buf);
}

// Sets the setting named `key` (case-insensitive); false for an unknown key.
bool ApplySetting(ConnectSettings& s, const std::string& key, const std::string& value) {
  std::string k = Lower(key);
  if (k == "database") {
    s.database = value;
  } else if (k == "user") {
    s.expectedUser = value;
  } else if (k == "password") {
    s.expectedPassword = value;
  } else if (k == "journal") {
    s.journal = value;
  } else if (k == "norowcountmode") {
    s.noRowCountMode = value;
  } else if (k == "control") {
    s.control = value;
  } else if (k == "uid") {
    s.uid = value;
  } else if (k == "pwd") {
    s.pwd = value;
  } else if (k == "dsn") {
    s.dsn = value;
  } else {
    return false;
  }
  return true;
}

// Splits a connection string "KEY=VALUE;KEY={VALUE;WITH;SEMICOLONS};...".
std::vector<std::pair<std::string, std::string>> ParseConnectionString(const std::string& in) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  while (i < in.size()) {
    std::size_t eq = in.find('=', i);
    std::size_t semi = in.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      if (semi == std::string::npos) break;
      i = semi + 1;  // a part without '=' carries nothing
      continue;
    }
    std::string key = Trim(in.substr(i, eq - i));
    std::size_t v = eq + 1;
    while (v < in.size() && in[v] == ' ') ++v;
    std::string value;
    if (v < in.size() && in[v] == '{') {
      // "}}" inside braces stands for one '}'.
      std::size_t p = v + 1;
      while (p < in.size()) {
        if (in[p] == '}') {
          if (p + 1 < in.size() && in[p + 1] == '}') {
            value += '}';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        value += in[p++];
      }
      std::size_t next = in.find(';', p);
      i = next == std::string::npos ? in.size() : next + 1;
    } else {
      std::size_t end = in.find(';', v);
      value = Trim(in.substr(v, end == std::string::npos ? std::string::npos : end - v));
      i = end == std::string::npos ? in.size() : end + 1;
    }
    if (!key.empty()) out.emplace_back(key, value);
  }
  return out;
}

// The SQLSTATE 08001 / native 17 answer of a client whose server is down.
SQLRETURN RefuseAsServerDown(Dbc* c) {
  return c->Error("08001", 17,
                  std::string(kNetPrefix) +
                      "SQL Server does not exist or access denied (connection refused by the stand-in's control "
                      "file).");
}

}  // namespace

void ReadDsn(const std::string& dsn, ConnectSettings& settings) {
  settings.dsn = dsn;
  static const char* const kKeys[] = {"Database", "User", "Password", "Journal", "NoRowCountMode", "Control"};
  for (const char* key : kKeys) {
    std::string value = DsnValue(dsn, key);
    if (!value.empty()) ApplySetting(settings, key, value);
  }
}

SQLRETURN ConnectWith(Dbc* c, const ConnectSettings& settings) {
  if (c->connected) return c->Error("08002", 0, std::string(kDriverPrefix) + "Connection name in use");

  FaultState* faults = nullptr;
  if (!settings.control.empty()) {
    std::string why;
    faults = FaultsForControlFile(settings.control, why);
    if (faults == nullptr) return c->Error("HY000", 0, std::string(kDriverPrefix) + why);
  }
  if (faults != nullptr && faults->RefuseConnect()) return RefuseAsServerDown(c);

  bool freetds = false;
  if (!settings.noRowCountMode.empty()) {
    if (EqualsNoCase(settings.noRowCountMode, "freetds")) {
      freetds = true;
    } else if (!EqualsNoCase(settings.noRowCountMode, "odbc3")) {
      return c->Error("HY000", 0,
                      std::string(kDriverPrefix) + "NoRowCountMode must be odbc3 or freetds, not '" +
                          settings.noRowCountMode + "'");
    }
  }
  if (settings.database.empty()) {
    return c->Error("08001", 0,
                    std::string(kDriverPrefix) + "The data source names no Database (the path of the database file)");
  }
  // SQL Server compares login names by the server's collation (without
  // regard to case) and passwords exactly.
  bool userOk = settings.expectedUser.empty() || EqualsNoCase(settings.expectedUser, settings.uid);
  bool passwordOk = settings.expectedPassword.empty() || settings.expectedPassword == settings.pwd;
  if (!userOk || !passwordOk) {
    return c->Error("28000", 18456, std::string(kServerPrefix) + "Login failed for user '" + settings.uid + "'.");
  }

  Error err;
  if (!c->db.Open(settings.database, false, err)) {
    return c->Error(err.sqlstate, err.native, kServerPrefix + err.message);
  }
  if (!settings.journal.empty()) {
    if (!c->journal.Open(settings.journal)) {
      c->db.Close();
      return c->Error("HY000", 0, std::string(kDriverPrefix) + "Cannot open the journal " + settings.journal);
    }
  }
  c->settings = settings;
  c->freetds = freetds;
  c->faults = faults;
  c->dropped = false;
  c->connected = true;
  return SQL_SUCCESS;
}

namespace {

using InfoValue = std::variant<std::string, SQLUSMALLINT, SQLUINTEGER>;

bool LookupInfo(Dbc* c, SQLUSMALLINT type, InfoValue& v) {
  // One info type a row, each answered with its own ODBC constant; several
  // constants share a value, which bugprone-branch-clone takes for copies.
  // NOLINTBEGIN(bugprone-branch-clone)
  switch (type) {
    // Texts.
    case SQL_DRIVER_NAME: v = std::string("libkranzel_standin.so"); break;
    case SQL_DRIVER_VER: v = std::string("01.00.0000"); break;
    case SQL_DRIVER_ODBC_VER: v = std::string("03.00"); break;
    case SQL_DBMS_NAME: v = std::string("Microsoft SQL Server"); break;
    case SQL_DBMS_VER: v = std::string("16.00.0000 KranzelStandin over SQLite ") + sqlite3_libversion(); break;
    case SQL_DATA_SOURCE_NAME: v = c->settings.dsn; break;
    case SQL_SERVER_NAME: v = std::string("kranzel-standin"); break;
    case SQL_DATABASE_NAME: v = c->settings.database; break;
    case SQL_USER_NAME: v = c->settings.uid; break;
    case SQL_IDENTIFIER_QUOTE_CHAR: v = std::string("\""); break;
    case SQL_SEARCH_PATTERN_ESCAPE: v = std::string("\\"); break;
    case SQL_CATALOG_NAME_SEPARATOR: v = std::string("."); break;
    case SQL_CATALOG_TERM: v = std::string("database"); break;
    case SQL_SCHEMA_TERM: v = std::string("owner"); break;
    case SQL_TABLE_TERM: v = std::string("table"); break;
    case SQL_PROCEDURE_TERM: v = std::string("stored procedure"); break;
    case SQL_KEYWORDS: v = std::string(""); break;
    case SQL_SPECIAL_CHARACTERS: v = std::string("#@$"); break;
    case SQL_COLLATION_SEQ: v = std::string("SQL_Latin1_General_CP1_CI_AS"); break;
    case SQL_DATA_SOURCE_READ_ONLY:
    case SQL_DESCRIBE_PARAMETER:
    case SQL_NEED_LONG_DATA_LEN:
    case SQL_MULT_RESULT_SETS:
    case SQL_ACCESSIBLE_PROCEDURES:
    case SQL_PROCEDURES:
    case SQL_ROW_UPDATES:
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG:
    case SQL_ORDER_BY_COLUMNS_IN_SELECT:
    case SQL_CATALOG_NAME: v = std::string("N"); break;
    case SQL_ACCESSIBLE_TABLES:
    case SQL_MULTIPLE_ACTIVE_TXN:
    case SQL_EXPRESSIONS_IN_ORDERBY:
    case SQL_COLUMN_ALIAS:
    case SQL_LIKE_ESCAPE_CLAUSE:
    case SQL_OUTER_JOINS:
    case SQL_INTEGRITY: v = std::string("Y"); break;
    // 16-bit numbers.
    case SQL_MAX_DRIVER_CONNECTIONS:
    case SQL_MAX_CONCURRENT_ACTIVITIES:
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_PROCEDURE_NAME_LEN:
    case SQL_MAX_CURSOR_NAME_LEN: v = SQLUSMALLINT{0}; break;
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_IDENTIFIER_LEN: v = SQLUSMALLINT{128}; break;
    case SQL_MAX_COLUMNS_IN_SELECT:
    case SQL_MAX_COLUMNS_IN_TABLE: v = SQLUSMALLINT{4096}; break;
    case SQL_MAX_COLUMNS_IN_GROUP_BY:
    case SQL_MAX_COLUMNS_IN_INDEX:
    case SQL_MAX_COLUMNS_IN_ORDER_BY:
    case SQL_MAX_TABLES_IN_SELECT:
    case SQL_MAX_USER_NAME_LEN: v = SQLUSMALLINT{0}; break;
    case SQL_TXN_CAPABLE: v = SQLUSMALLINT{SQL_TC_NONE}; break;
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR: v = SQLUSMALLINT{SQL_CB_PRESERVE}; break;
    case SQL_IDENTIFIER_CASE:
    case SQL_QUOTED_IDENTIFIER_CASE: v = SQLUSMALLINT{SQL_IC_MIXED}; break;
    case SQL_NULL_COLLATION: v = SQLUSMALLINT{SQL_NC_LOW}; break;
    case SQL_CONCAT_NULL_BEHAVIOR: v = SQLUSMALLINT{SQL_CB_NULL}; break;
    case SQL_NON_NULLABLE_COLUMNS: v = SQLUSMALLINT{SQL_NNC_NON_NULL}; break;
    case SQL_CORRELATION_NAME: v = SQLUSMALLINT{SQL_CN_ANY}; break;
    case SQL_GROUP_BY: v = SQLUSMALLINT{SQL_GB_GROUP_BY_CONTAINS_SELECT}; break;
    case SQL_FILE_USAGE: v = SQLUSMALLINT{SQL_FILE_NOT_SUPPORTED}; break;
    case SQL_ODBC_API_CONFORMANCE: v = SQLUSMALLINT{SQL_OAC_LEVEL1}; break;
    case SQL_ODBC_SQL_CONFORMANCE: v = SQLUSMALLINT{SQL_OSC_MINIMUM}; break;
    case SQL_ODBC_SAG_CLI_CONFORMANCE: v = SQLUSMALLINT{SQL_OSCC_COMPLIANT}; break;
    case SQL_ACTIVE_ENVIRONMENTS: v = SQLUSMALLINT{0}; break;
    // 32-bit numbers and bitmasks.
    case SQL_GETDATA_EXTENSIONS: v = SQLUINTEGER{SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND}; break;
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_TXN_ISOLATION_OPTION: v = SQLUINTEGER{SQL_TXN_READ_COMMITTED}; break;
    case SQL_SCROLL_OPTIONS: v = SQLUINTEGER{SQL_SO_FORWARD_ONLY}; break;
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1: v = SQLUINTEGER{SQL_CA1_NEXT}; break;
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2: v = SQLUINTEGER{SQL_CA2_READ_ONLY_CONCURRENCY}; break;
    case SQL_ODBC_INTERFACE_CONFORMANCE: v = SQLUINTEGER{SQL_OIC_CORE}; break;
    case SQL_SQL_CONFORMANCE: v = SQLUINTEGER{SQL_SC_SQL92_ENTRY}; break;
    case SQL_CONVERT_FUNCTIONS: v = SQLUINTEGER{SQL_FN_CVT_CONVERT}; break;
    case SQL_STRING_FUNCTIONS:
      v = SQLUINTEGER{SQL_FN_STR_LTRIM | SQL_FN_STR_RTRIM | SQL_FN_STR_UCASE | SQL_FN_STR_LENGTH};
      break;
    case SQL_TIMEDATE_FUNCTIONS: v = SQLUINTEGER{SQL_FN_TD_NOW | SQL_FN_TD_CURRENT_TIMESTAMP}; break;
    case SQL_SCHEMA_USAGE: v = SQLUINTEGER{SQL_SU_DML_STATEMENTS | SQL_SU_TABLE_DEFINITION}; break;
    case SQL_UNION: v = SQLUINTEGER{SQL_U_UNION | SQL_U_UNION_ALL}; break;
    case SQL_MAX_ROW_SIZE: v = SQLUINTEGER{8060}; break;
    case SQL_ASYNC_MODE: v = SQLUINTEGER{SQL_AM_NONE}; break;
    case SQL_CURSOR_SENSITIVITY: v = SQLUINTEGER{SQL_INSENSITIVE}; break;
    case SQL_PARAM_ARRAY_ROW_COUNTS: v = SQLUINTEGER{SQL_PARC_NO_BATCH}; break;
    case SQL_PARAM_ARRAY_SELECTS: v = SQLUINTEGER{SQL_PAS_NO_SELECT}; break;
    case SQL_OJ_CAPABILITIES: v = SQLUINTEGER{SQL_OJ_LEFT | SQL_OJ_NOT_ORDERED | SQL_OJ_ALL_COMPARISON_OPS}; break;
    case SQL_CATALOG_USAGE:
    case SQL_NUMERIC_FUNCTIONS:
    case SQL_SYSTEM_FUNCTIONS:
    case SQL_BATCH_SUPPORT:
    case SQL_BATCH_ROW_COUNT:
    case SQL_BOOKMARK_PERSISTENCE:
    case SQL_LOCK_TYPES:
    case SQL_POS_OPERATIONS:
    case SQL_POSITIONED_STATEMENTS:
    case SQL_STATIC_SENSITIVITY:
    case SQL_MAX_STATEMENT_LEN:
    case SQL_MAX_CHAR_LITERAL_LEN:
    case SQL_MAX_INDEX_SIZE:
    case SQL_MAX_BINARY_LITERAL_LEN:
    case SQL_MAX_ASYNC_CONCURRENT_STATEMENTS:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2:
    case SQL_KEYSET_CURSOR_ATTRIBUTES1:
    case SQL_KEYSET_CURSOR_ATTRIBUTES2:
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_STATIC_CURSOR_ATTRIBUTES2:
    case SQL_DTC_TRANSITION_COST:
    case SQL_TIMEDATE_ADD_INTERVALS:
    case SQL_TIMEDATE_DIFF_INTERVALS: v = SQLUINTEGER{0}; break;
    default: return false;
  }
  // NOLINTEND(bugprone-branch-clone)
  return true;
}

SQLRETURN GetInfo(Dbc* c, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  InfoValue v;
  if (!LookupInfo(c, type, v)) {
    return c->Error("HY096", 0, std::string(kDriverPrefix) + "Information type out of range");
  }
  if (const auto* text = std::get_if<std::string>(&v)) return TextOut(c, *text, value, bufferLength, length);
  if (const auto* small = std::get_if<SQLUSMALLINT>(&v)) {
    if (value != nullptr) std::memcpy(value, small, sizeof *small);
    if (length != nullptr) *length = sizeof *small;
    return SQL_SUCCESS;
  }
  const auto& big = std::get<SQLUINTEGER>(v);
  if (value != nullptr) std::memcpy(value, &big, sizeof big);
  if (length != nullptr) *length = sizeof big;
  return SQL_SUCCESS;
}

constexpr SQLUSMALLINT kSupported[] = {
    SQL_API_SQLALLOCHANDLE,  SQL_API_SQLFREEHANDLE,     SQL_API_SQLSETENVATTR,     SQL_API_SQLGETENVATTR,
    SQL_API_SQLCONNECT,      SQL_API_SQLDRIVERCONNECT,  SQL_API_SQLDISCONNECT,     SQL_API_SQLGETINFO,
    SQL_API_SQLGETFUNCTIONS, SQL_API_SQLSETCONNECTATTR, SQL_API_SQLGETCONNECTATTR, SQL_API_SQLSETSTMTATTR,
    SQL_API_SQLGETSTMTATTR,  SQL_API_SQLEXECDIRECT,     SQL_API_SQLPREPARE,        SQL_API_SQLEXECUTE,
    SQL_API_SQLNUMPARAMS,    SQL_API_SQLBINDCOL,        SQL_API_SQLFETCH,          SQL_API_SQLFETCHSCROLL,
    SQL_API_SQLGETDATA,      SQL_API_SQLROWCOUNT,       SQL_API_SQLNUMRESULTCOLS,  SQL_API_SQLDESCRIBECOL,
    SQL_API_SQLCOLATTRIBUTE, SQL_API_SQLMORERESULTS,    SQL_API_SQLFREESTMT,       SQL_API_SQLCLOSECURSOR,
    SQL_API_SQLCANCEL,       SQL_API_SQLENDTRAN,        SQL_API_SQLGETDIAGREC,     SQL_API_SQLGETDIAGFIELD,
    SQL_API_SQLNATIVESQL,
};

SQLRETURN GetFunctions(SQLUSMALLINT id, SQLUSMALLINT* supported) {
  if (supported == nullptr) return SQL_SUCCESS;
  if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::fill(supported, supported + SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, SQLUSMALLINT{0});
    for (SQLUSMALLINT f : kSupported) supported[f >> 4] |= static_cast<SQLUSMALLINT>(1u << (f & 0xF));
    return SQL_SUCCESS;
  }
  if (id == SQL_API_ALL_FUNCTIONS) {
    std::fill(supported, supported + 100, SQLUSMALLINT{0});
    for (SQLUSMALLINT f : kSupported) {
      if (f < 100) supported[f] = SQL_TRUE;
    }
    return SQL_SUCCESS;
  }
  *supported = SQL_FALSE;
  for (SQLUSMALLINT f : kSupported) {
    if (f == id) *supported = SQL_TRUE;
  }
  return SQL_SUCCESS;
}

}  // namespace
}  // namespace standin

using namespace standin;

extern "C" {

SQLRETURN SQL_API SQLConnect(SQLHDBC ConnectionHandle, SQLCHAR* ServerName, SQLSMALLINT NameLength1, SQLCHAR* UserName,
                             SQLSMALLINT NameLength2, SQLCHAR* Authentication, SQLSMALLINT NameLength3) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  ConnectSettings settings;
  ReadDsn(TextIn(ServerName, NameLength1), settings);
  settings.uid = TextIn(UserName, NameLength2);
  settings.pwd = TextIn(Authentication, NameLength3);
  return c->Done(ConnectWith(c, settings));
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC ConnectionHandle, SQLHWND /*WindowHandle*/, SQLCHAR* InConnectionString,
                                   SQLSMALLINT StringLength1, SQLCHAR* OutConnectionString, SQLSMALLINT BufferLength,
                                   SQLSMALLINT* StringLength2Ptr, SQLUSMALLINT /*DriverCompletion*/) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  std::string in = TextIn(InConnectionString, StringLength1);
  auto pairs = ParseConnectionString(in);
  // The DSN's attributes first, then the string's keys over them. There is
  // no dialog to complete a connection string: every completion mode acts
  // as SQL_DRIVER_NOPROMPT.
  ConnectSettings settings;
  for (const auto& [key, value] : pairs) {
    if (EqualsNoCase(key, "DSN")) ReadDsn(value, settings);
  }
  for (const auto& [key, value] : pairs) ApplySetting(settings, key, value);
  SQLRETURN rc = ConnectWith(c, settings);
  if (rc == SQL_ERROR) return c->Done(rc);
  SQLRETURN out = TextOut(c, in, OutConnectionString, BufferLength, StringLength2Ptr);
  return c->Done(out);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC ConnectionHandle) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  if (!c->connected) return c->Done(c->Error("08003", 0, std::string(kDriverPrefix) + "Connection not open"));
  c->Disconnect();
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC ConnectionHandle, SQLUSMALLINT InfoType, SQLPOINTER InfoValue,
                             SQLSMALLINT BufferLength, SQLSMALLINT* StringLength) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  return c->Done(GetInfo(c, InfoType, InfoValue, BufferLength, StringLength));
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC ConnectionHandle, SQLUSMALLINT FunctionId, SQLUSMALLINT* Supported) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  return GetFunctions(FunctionId, Supported);
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC ConnectionHandle, SQLCHAR* InStatementText, SQLINTEGER TextLength1,
                               SQLCHAR* OutStatementText, SQLINTEGER BufferLength, SQLINTEGER* TextLength2Ptr) {
  Dbc* c = AsDbc(ConnectionHandle);
  if (c == nullptr) return SQL_INVALID_HANDLE;
  c->diag.Clear();
  return c->Done(TextOut(c, TextIn(InStatementText, TextLength1), OutStatementText, BufferLength, TextLength2Ptr));
}

}  // extern "C"
