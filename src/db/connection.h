// The one database session of a run: the ODBC handles, the credentials they
// were connected with, the diagnostics of the last failure and the counts of
// the current import attempt; login, connect, reconnect, disconnect.
#pragma once

#ifdef _WIN32
#include <windows.h>  // the Windows ODBC headers need its types first
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <utility>

#include "db/driver_counts.h"
#include "db/statement.h"

namespace db {

// What a connect needs, as one value so that its parts cannot be swapped
// (dbConnect names the user first, SQLConnect the data source).
struct Credentials {
  std::string User;        // configuration key LOGIN
  std::string Password;    // configuration key PASS
  std::string DataSource;  // configuration key DATABASE (1-40 chars, else empty)
};

// Pause between two reconnect attempts, and their number.
constexpr unsigned long kReconnectPauseMs = 60000;
constexpr int kReconnectAttempts = 5;

// How long the driver may wait for the server, so that a server that takes
// the connection and then never answers cannot hold a run (and its type
// lock) for ever. A connect (SQL_ATTR_LOGIN_TIMEOUT) gets a minute, four
// times the 15 s that SQL Server's own clients allow by default. A statement
// (SQL_ATTR_QUERY_TIMEOUT; SQL_ATTR_CONNECTION_TIMEOUT for the driver's
// other requests on the connection) gets ten minutes: the longest
// statements are the mark and the sweep, one UPDATE or DELETE over a whole
// table, which on a busy server may first wait for other sessions' locks.
// A timed-out connect is a failed connect and a timed-out statement a
// failed statement: the reconnects and import attempts follow as for any
// other failure.
constexpr unsigned long kLoginTimeoutSeconds = 60;
constexpr unsigned long kQueryTimeoutSeconds = 600;

// Sends statements over the session's connection, each on a fresh statement
// handle (see statement.h for the mapping of the ODBC results).
class OdbcExecutor final : public StatementExecutor {
 public:
  explicit OdbcExecutor(Session& session) : session_(session) {}
  StatementResult Execute(StatementKind kind, std::string text) override;

 private:
  Session& session_;
};

// A run's database session. It owns the environment and connection handles
// (freed, after a disconnect, when the session ends, on every path) and the
// credentials every reconnect reuses. Statements go to its executor: ODBC
// unless a capture was set in its place.
class Session {
 public:
  Session() = default;
  explicit Session(Credentials credentials) : credentials_(std::move(credentials)) {}
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] const Credentials& credentials() const { return credentials_; }
  [[nodiscard]] SQLHENV env() const { return env_; }
  [[nodiscard]] SQLHDBC dbc() const { return dbc_; }

  // Where statements go; `executor` must outlive its use here. nullptr sends
  // them through ODBC again.
  void SetExecutor(StatementExecutor* executor) { executor_ = executor; }
  [[nodiscard]] StatementExecutor& executor() { return executor_ != nullptr ? *executor_ : odbc_; }

  // The diagnostic of the last failed statement or server-time query.
  DiagRecord diag;
  // The rows the driver reported in the current import attempt.
  DriverCounts counts;
  // The last non-zero native error number any diagnostic record carried in
  // this session (connect, reconnect or statement); 0 while there was none.
  std::int32_t lastNativeError = 0;

  // Frees any handles, then allocates environment and connection with the
  // timeouts set; false when either could not be had.
  [[nodiscard]] bool Allocate();
  // Disconnects and frees both handles, if there are any.
  void Close();

 private:
  Credentials credentials_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  OdbcExecutor odbc_{*this};
  StatementExecutor* executor_ = nullptr;
};

// Connects with the session's credentials. Returns true when connected; on
// failure logs "Datenbankverbindung fehlgeschlagen, Fehler: -1" and the
// driver's diagnostic.
[[nodiscard]] bool dbLogin(Session& session);

// Releases any handles, then allocates environment and connection and
// connects with the session's credentials (each part passed whole). True
// when connected.
[[nodiscard]] bool dbConnect(Session& session);

// The number the log names for a failed connect.
constexpr long kConnectFailed = -1;

// Disconnects and frees both handles.
void dbDisconnect(Session& session);

// Up to five attempts to connect again with the session's credentials, 60 s
// apart, each logged. True when connected again, false when all failed.
[[nodiscard]] bool dbReconnect(Session& session);

// Reads diagnostic record 1 of `handle` into `record` (cleared first); a
// non-zero native error number is remembered as the session's last.
void dbGetDiag(Session& session, SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record);

// Reads the diagnostic of the session's connection handle, else of its
// environment handle (empty when there is neither).
[[nodiscard]] DiagRecord dbConnectDiag(Session& session);

// Gives a statement handle the statement timeout. A driver that refuses it
// still runs the statement, without one.
void dbSetQueryTimeout(SQLHSTMT stmt);

// Logs the added line "ODBC: <SQLSTATE> <message> (nativer Fehler <n>, DSN
// <name>)" for `diag`, the session's password masked.
void dbLogDiag(const Session& session, const DiagRecord& diag);

}  // namespace db
