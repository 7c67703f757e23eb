// The import run: command line, banner and usage, work file, database
// start-up, dispatch by file type, the attempt loop and the exit code.
#pragma once

#include <string>

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
std::string WorkName(const std::string& source);

// yyyymmdd from a "dd.mm.yyyy hh:mm:ss" timestamp; empty when it is too short.
std::string DateOfTimestamp(const std::string& timestamp);

// The whole run; returns the exit code.
int RunKranzel(int argc, char** argv);
