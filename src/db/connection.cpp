// The run's database session: connect, reconnect (five attempts a minute
// apart), disconnect, diagnostics.
#include "db/connection.h"

#include "log/log.h"
#include "platform/platform.h"

namespace db {

namespace {

SQLCHAR* Text(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

// The added line after a failed connect (never in place of the specified
// messages): what the driver manager or driver said, and to which data
// source, so that a wrong DSN, a wrong password, a server that cannot be
// reached or does not answer read differently in the log.
void LogConnectDiag(Session& session) { dbLogDiag(session, dbConnectDiag(session)); }

// ODBC takes an integer attribute's value in the place of the pointer.
SQLPOINTER Seconds(unsigned long seconds) {
  const auto value = static_cast<SQLULEN>(seconds);
  return reinterpret_cast<SQLPOINTER>(value);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

bool Session::Allocate() {
  Close();
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_) == SQL_ERROR) {
    env_ = SQL_NULL_HENV;
    return false;
  }
  // ODBC 3 makes a searched UPDATE or DELETE that touches no row answer
  // SQL_NO_DATA, on which the upserts, marks and sweeps rely.
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                SQL_IS_INTEGER);
  if (SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_) == SQL_ERROR) {
    dbc_ = SQL_NULL_HDBC;
    return false;
  }
  // Set before the connect, which they bound; a driver that refuses them
  // connects without them, as before.
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, Seconds(kLoginTimeoutSeconds), SQL_IS_UINTEGER);
  SQLSetConnectAttr(dbc_, SQL_ATTR_CONNECTION_TIMEOUT, Seconds(kQueryTimeoutSeconds),
                    SQL_IS_UINTEGER);
  return true;
}

void Session::Close() {
  if (dbc_ != SQL_NULL_HDBC) {
    // A connection handle that never connected answers the disconnect with
    // an error and is freed all the same.
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
  }
  if (env_ != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    env_ = SQL_NULL_HENV;
  }
}

bool dbLogin(Session& session) {
  if (dbConnect(session)) return true;
  klog::LogF("Datenbankverbindung fehlgeschlagen, Fehler: %d", static_cast<int>(kConnectFailed));
  LogConnectDiag(session);
  return false;
}

bool dbConnect(Session& session) {
  if (!session.Allocate()) return false;
  // The values reach the driver whole, however long they are.
  const Credentials& c = session.credentials();
  std::string u = c.User, p = c.Password, d = c.DataSource;
  return SQLConnect(session.dbc(), Text(d), SQL_NTS, Text(u), SQL_NTS, Text(p), SQL_NTS) !=
         SQL_ERROR;
}

void dbDisconnect(Session& session) { session.Close(); }

bool dbReconnect(Session& session) {
  for (long attempt = 1; attempt <= kReconnectAttempts; ++attempt) {
    dbDisconnect(session);
    klog::LogF("%ld. Versuch zur Wiederherstellung der Datenbankverbindung!", attempt);
    if (dbConnect(session)) {
      klog::LogF("Die Verbindung zur Datenbank wurde wiederhergestellt!");
      return true;
    }
    klog::LogF("Fehler dbConnect(dbReconnect)! RC: %ld Versuch-Nr.: %ld", kConnectFailed, attempt);
    LogConnectDiag(session);
    platform::SleepMs(kReconnectPauseMs);
  }
  return false;
}

void dbSetQueryTimeout(SQLHSTMT stmt) {
  SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, Seconds(kQueryTimeoutSeconds), SQL_IS_UINTEGER);
}

void dbLogDiag(const Session& session, const DiagRecord& diag) {
  // The password is never written, not even when a driver repeats it.
  const Credentials& c = session.credentials();
  std::string message = diag.SqlState.empty() ? "keine Diagnose vom ODBC-Treibermanager"
                                              : diag.SqlState + " " + diag.Message;
  for (std::size_t at = 0;
       !c.Password.empty() && (at = message.find(c.Password, at)) != std::string::npos; at += 3)
    message.replace(at, c.Password.size(), "***");
  const std::string dsn = c.DataSource.empty() ? "kein DSN" : "DSN " + c.DataSource;
  klog::LogF("ODBC: %s (nativer Fehler %ld, %s)", message.c_str(),
             static_cast<long>(diag.NativeError), dsn.c_str());
}

DiagRecord dbConnectDiag(Session& session) {
  DiagRecord diag;
  if (session.dbc() != SQL_NULL_HDBC) {
    dbGetDiag(session, SQL_HANDLE_DBC, session.dbc(), diag);
  } else if (session.env() != SQL_NULL_HENV) {
    dbGetDiag(session, SQL_HANDLE_ENV, session.env(), diag);
  }
  return diag;
}

void dbGetDiag(Session& session, SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record) {
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
  if (native != 0) session.lastNativeError = native;
}

}  // namespace db
