// The run log. Every message of the tool goes through WriteLog: appended with
// a timestamp to LogPath (rotated to OldLogPath past 10 MB), or printed on
// standard output when DebugFlag is set.
#pragma once

#include <string>

#include "util/format.h"

// Named klog, not log: a namespace log at global scope would clash with the
// C library's log().
namespace klog {

// Process-wide: the log settings, set by the run before its first message
// (the log's other process-wide state is beside their definitions, in
// log.cpp).
extern int DebugFlag;           // 1: messages go to standard output, no file
extern std::string LogPath;     // "../../Valdura_php/log/kranzel.log"
extern std::string OldLogPath;  // "../../Valdura_php/log/kranzel.old"

// The size past which the log is rotated: a log longer than this after a
// write is renamed to OldLogPath and a new, empty log begins.
constexpr long kLogRotateSize = 10485760L;

// Appends `bytes` to the file at `path` (opened and closed for this one
// write); when the file is then longer than kLogRotateSize it is renamed to
// `oldPath`, replacing the older one, and a new, empty file begins at
// `path`. The append and the rotation check happen under an exclusive lock
// on `path` + ".lock", so that runs writing at the same moment never rotate
// twice; without that lock it writes as before and says so once on
// standard error. `bytes` reach the file whole or not at all: what a failed
// write let through is cut off again.
// Returns 0, or the errno of the open, write or close that failed; a failed
// deletion or rename of the rotation is not reported, as the log's never
// was. The log and the run summary are both written through it.
int AppendRotated(const std::string& path, const std::string& oldPath, const std::string& bytes);

// Writes one message: "YYYY-MM-DD hh:mm:ss <text>\n" appended to LogPath, or
// "<text>\n" on standard output with DebugFlag. Never reports a failure; a
// message of any length is written whole.
void WriteLog(const std::string& text);

// Formats a message with a printf format (checked against the arguments when
// compiled) and writes it.
template <typename... Args>
void LogF(util::FormatString<Args...> format, const Args&... args) {
  WriteLog(util::Format<Args...>(format, args...));
}

}  // namespace klog
