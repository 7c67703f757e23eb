// Run log: timestamped lines, open/append/close per message, one rotated
// generation.
#include "log/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "util/format.h"

int DebugFlag = 0;
std::string LogPath;
std::string OldLogPath;

namespace {

// Set once the run has said on standard error that its log cannot be
// written; the message itself stays lost, as before, and the exit code is
// unchanged, but the failure leaves a trace once per run.
bool LogFailureReported = false;

void ReportLogFailure(const std::string& path, int reason) {
  if (LogFailureReported) return;
  LogFailureReported = true;
  std::fprintf(stderr, "kranzel: Logdatei %s kann nicht geschrieben werden: %s\n", path.c_str(),
               std::strerror(reason));
  std::fflush(stderr);
}

}  // namespace

int AppendRotated(const std::string& path, const std::string& oldPath, const std::string& bytes) {
  // Binary: the size checked for the rotation is then the bytes in the file
  // on every platform.
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return errno != 0 ? errno : EIO;
  // A full disk shows at the latest when the buffered bytes are flushed.
  bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
  int reason = errno;
  long size = std::ftell(f);
  if (size > kLogRotateSize) {
    std::fclose(f);
    platform::RemoveFile(oldPath);
    platform::RenameFile(path, oldPath);
    f = std::fopen(path.c_str(), "ab");
    if (f == nullptr && written) {
      written = false;
      reason = errno;
    }
  }
  if (f != nullptr && std::fclose(f) != 0 && written) {
    written = false;
    reason = errno;
  }
  if (written) return 0;
  return reason != 0 ? reason : EIO;
}

void WriteLog(const std::string& text) {
  if (DebugFlag) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return;
  }
  // The platform's line ends written out (a line feed inside the message
  // too, as a text-mode write would).
  std::string line = platform::LocalTimeText("%Y-%m-%d %H:%M:%S");
  line += ' ';
  line += text;
  line += '\n';
  const int reason = AppendRotated(LogPath, OldLogPath, platform::TextLineEnds(line));
  if (reason != 0) ReportLogFailure(LogPath, reason);
}
