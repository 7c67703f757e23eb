// The one database connection of a run: login with the configured
// credentials, reconnect, disconnect, and the diagnostics of a failed call.
#pragma once

#ifdef _WIN32
#include <windows.h>  // the Windows ODBC headers need its types first
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>

// Process-wide ODBC handles; SQL_NULL_HANDLE when there is none.
extern SQLHENV henv;
extern SQLHDBC hdbc;

// What a connect needs, as one value so that its parts cannot be swapped
// (dbConnect names the user first, SQLConnect the data source).
struct Credentials {
  std::string User;        // configuration key LOGIN
  std::string Password;    // configuration key PASS
  std::string DataSource;  // configuration key DATABASE (1-40 chars, else empty)
};

// Filled by dbLogin: the credentials reused by every dbReconnect, and the
// installation's database system (configuration key DB_SYSTEM).
extern Credentials LoginCredentials;
extern std::string DbSystem;

// The shared diagnostic record, overwritten by every dbGetDiag.
struct DiagRecord {
  std::string SqlState;
  std::string Message;
  std::int32_t NativeError = 0;
};
extern DiagRecord DiagRec;

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

// Reads LOGIN, PASS, DB_SYSTEM and DATABASE and connects. Returns 0 when
// connected, else the result of dbConnect (-1) after logging it.
int dbLogin();

// Releases any handles, then allocates environment and connection and
// connects with `credentials` (each part passed whole). 0 or -1.
int dbConnect(const Credentials& credentials);

// Disconnects and frees both handles. Always 0.
int dbDisconnect();

// Up to five attempts to connect again with the stored credentials, 60 s
// apart, each logged. 1 when connected again, 0 when all failed.
int dbReconnect();

// Reads diagnostic record 1 of `handle` into `record` (cleared first).
void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record);

// Gives a statement handle on hdbc the statement timeout. A driver that
// refuses it still runs the statement, without one.
void dbSetQueryTimeout(SQLHSTMT stmt);

// Logs the added line "ODBC: <SQLSTATE> <message> (nativer Fehler <n>, DSN
// <name>)" for `diag`, the configured password masked.
void dbLogDiag(const DiagRecord& diag);
