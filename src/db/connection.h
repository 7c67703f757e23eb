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

// Credential stores, filled by dbLogin and reused by every dbReconnect.
extern std::string LoginUser;    // configuration key LOGIN
extern std::string LoginPass;    // configuration key PASS
extern std::string DbSystem;     // configuration key DB_SYSTEM
extern std::string DataSource;   // configuration key DATABASE (1-40 chars, else empty)

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

// Reads LOGIN, PASS, DB_SYSTEM and DATABASE and connects. Returns 0 when
// connected, else the result of dbConnect (-1) after logging it.
int dbLogin();

// Releases any handles, then allocates environment and connection and
// connects to `dsn` as `user`/`password` (passed whole). 0 or -1.
int dbConnect(const std::string& user, const std::string& password,
              const std::string& dsn);

// Disconnects and frees both handles. Always 0.
int dbDisconnect();

// Up to five attempts to connect again with the stored credentials, 60 s
// apart, each logged. 1 when connected again, 0 when all failed.
int dbReconnect();

// Reads diagnostic record 1 of `handle` into `record` (cleared first).
void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record);
