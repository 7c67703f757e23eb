// The import run: command line, banner and usage, work file, database
// start-up, dispatch by file type, the attempt loop and the exit code.
#pragma once

#include <string>

#include "db/connection.h"

namespace run {

// Exit codes returned to the caller.
constexpr int kExitImported = 0;
constexpr int kExitUsage = 90;   // too few arguments, no source file, unknown type
constexpr int kExitFailed = 99;  // no database, or the import failed

// Attempts of the loop and the pause between two of them.
constexpr int kImportAttempts = 5;
constexpr unsigned long kAttemptPauseMs = 10000;

// Upper-cases 'a' to 'z' in place (nothing else changes); returns `text`.
std::string& StrUpper(std::string& text);

// The work file's name: the source name cut at its last '.' (the directory
// part included), with ".wrk" appended.
[[nodiscard]] std::string WorkName(const std::string& source);

// yyyymmdd from a "dd.mm.yyyy hh:mm:ss" timestamp; empty when it is too short.
[[nodiscard]] std::string DateOfTimestamp(const std::string& timestamp);

// The DATABASE value names an ODBC data source of 1 to 40 characters; any
// other value leaves the data-source name empty, so the connect fails.
constexpr std::size_t kMaxDataSource = 40;

// What the configuration file says of the database.
struct DatabaseConfig {
  db::Credentials credentials;  // LOGIN, PASS and DATABASE
  std::string dbSystem;         // DB_SYSTEM
};

// Reads LOGIN, PASS, DB_SYSTEM and DATABASE, in that order, from the
// configuration file (every value empty when it cannot be read).
[[nodiscard]] DatabaseConfig ReadDatabaseConfig();

// The added line after a failed login when the configuration file itself
// cannot be read: its values then all read empty and the connect fails for
// want of a DSN.
void LogConfigUnreadable();

// The whole run; returns the exit code.
[[nodiscard]] int RunKranzel(int argc, char** argv);

}  // namespace run
