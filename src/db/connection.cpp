// The run's one database connection: login from the configuration file,
// connect, reconnect (five attempts a minute apart), disconnect, diagnostics.
#include "db/connection.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/ini.h"
#include "db/driver_counts.h"
#include "log/log.h"
#include "platform/platform.h"

SQLHENV henv = SQL_NULL_HENV;
SQLHDBC hdbc = SQL_NULL_HDBC;

Credentials LoginCredentials;
std::string DbSystem;

DiagRecord DiagRec;

namespace {

// The DATABASE value names an ODBC data source of 1 to 40 characters; any
// other value leaves the data-source name empty, so the connect fails.
constexpr std::size_t kMaxDataSource = 40;

std::string Lookup(const char* key) {
  ReadIniValue("", key, 0, platform::NativePath(kIniPath));
  return IniValue;
}

SQLCHAR* Text(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

// The added line after a failed connect (never in place of the specified
// messages): what the driver manager or driver said, and to which data
// source, so that a wrong DSN, a wrong password, a server that cannot be
// reached or does not answer, and a missing configuration file read
// differently in the log.
void LogConnectDiag() {
  DiagRecord diag;
  if (hdbc != SQL_NULL_HDBC) {
    dbGetDiag(SQL_HANDLE_DBC, hdbc, diag);
  } else if (henv != SQL_NULL_HENV) {
    dbGetDiag(SQL_HANDLE_ENV, henv, diag);
  }
  dbLogDiag(diag);
}

// ODBC takes an integer attribute's value in the place of the pointer.
SQLPOINTER Seconds(unsigned long seconds) {
  const auto value = static_cast<SQLULEN>(seconds);
  return reinterpret_cast<SQLPOINTER>(value);  // NOLINT(performance-no-int-to-ptr)
}

// The added line when the configuration file itself cannot be read: its
// values then all read empty and the connect fails for want of a DSN.
void LogConfigUnreadable() {
  const std::string path = platform::NativePath(kIniPath);
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f != nullptr) {
    std::fclose(f);
    return;
  }
  LogF("Konfigurationsdatei %s nicht lesbar: %s", path.c_str(), std::strerror(errno));
}

}  // namespace

int dbLogin() {
  LoginCredentials = Credentials();
  DbSystem.clear();
  LoginCredentials.User = Lookup("LOGIN");
  LoginCredentials.Password = Lookup("PASS");
  DbSystem = Lookup("DB_SYSTEM");
  std::string database = Lookup("DATABASE");
  if (!database.empty() && database.size() <= kMaxDataSource)
    LoginCredentials.DataSource = database;

  int rc = dbConnect(LoginCredentials);
  if (rc != 0) {
    LogF("Datenbankverbindung fehlgeschlagen, Fehler: %d", rc);
    LogConnectDiag();
    LogConfigUnreadable();
  }
  return rc;
}

int dbConnect(const Credentials& credentials) {
  if (hdbc != SQL_NULL_HDBC) {
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    hdbc = SQL_NULL_HDBC;
  }
  if (henv != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, henv);
    henv = SQL_NULL_HENV;
  }
  // The values reach the driver whole, however long they are.
  std::string u = credentials.User, p = credentials.Password, d = credentials.DataSource;

  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv) == SQL_ERROR) {
    henv = SQL_NULL_HENV;
    return -1;
  }
  // ODBC 3 makes a searched UPDATE or DELETE that touches no row answer
  // SQL_NO_DATA, on which the upserts, marks and sweeps rely.
  SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                SQL_IS_INTEGER);
  if (SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc) == SQL_ERROR) {
    hdbc = SQL_NULL_HDBC;
    return -1;
  }
  // Set before the connect, which they bound; a driver that refuses them
  // connects without them, as before.
  SQLSetConnectAttr(hdbc, SQL_ATTR_LOGIN_TIMEOUT, Seconds(kLoginTimeoutSeconds), SQL_IS_UINTEGER);
  SQLSetConnectAttr(hdbc, SQL_ATTR_CONNECTION_TIMEOUT, Seconds(kQueryTimeoutSeconds),
                    SQL_IS_UINTEGER);
  if (SQLConnect(hdbc, Text(d), SQL_NTS, Text(u), SQL_NTS, Text(p), SQL_NTS) == SQL_ERROR)
    return -1;
  return 0;
}

int dbDisconnect() {
  if (hdbc != SQL_NULL_HDBC) {
    SQLDisconnect(hdbc);
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    hdbc = SQL_NULL_HDBC;
  }
  if (henv != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, henv);
    henv = SQL_NULL_HENV;
  }
  return 0;
}

int dbReconnect() {
  for (long attempt = 1; attempt <= kReconnectAttempts; ++attempt) {
    dbDisconnect();
    LogF("%ld. Versuch zur Wiederherstellung der Datenbankverbindung!", attempt);
    long rc = dbConnect(LoginCredentials);
    if (rc == 0) {
      LogF("Die Verbindung zur Datenbank wurde wiederhergestellt!");
      return 1;
    }
    LogF("Fehler dbConnect(dbReconnect)! RC: %ld Versuch-Nr.: %ld", rc, attempt);
    LogConnectDiag();
    platform::SleepMs(kReconnectPauseMs);
  }
  return 0;
}

void dbSetQueryTimeout(SQLHSTMT stmt) {
  SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, Seconds(kQueryTimeoutSeconds), SQL_IS_UINTEGER);
}

void dbLogDiag(const DiagRecord& diag) {
  // The password is never written, not even when a driver repeats it.
  std::string message = diag.SqlState.empty() ? "keine Diagnose vom ODBC-Treibermanager"
                                              : diag.SqlState + " " + diag.Message;
  for (std::size_t at = 0; !LoginCredentials.Password.empty() &&
                           (at = message.find(LoginCredentials.Password, at)) != std::string::npos;
       at += 3)
    message.replace(at, LoginCredentials.Password.size(), "***");
  const std::string dsn =
      LoginCredentials.DataSource.empty() ? "kein DSN" : "DSN " + LoginCredentials.DataSource;
  LogF("ODBC: %s (nativer Fehler %ld, %s)", message.c_str(), static_cast<long>(diag.NativeError),
       dsn.c_str());
}

void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record) {
  record = DiagRecord();
  SQLCHAR state[256] = {0};
  SQLCHAR message[1000] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLRETURN rc =
      SQLGetDiagRec(handleType, handle, 1, state, &native, message, sizeof message, &length);
  if (!SQL_SUCCEEDED(rc)) return;
  record.SqlState = reinterpret_cast<const char*>(state);
  record.Message = reinterpret_cast<const char*>(message);
  record.NativeError = native;
  if (native != 0) LastNativeError = native;
}
