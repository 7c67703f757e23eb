// Run log: timestamped lines, open/append/close per message, one rotated
// generation.
#include "log/log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "util/format.h"

namespace klog {

// The log's process-wide state, all of it here: the run's settings
// (declared in log.h) and what has been said once on standard error.
int DebugFlag = 0;
std::string LogPath;
std::string OldLogPath;

namespace {

// Set once the run has said on standard error that its log cannot be
// written; the message itself stays lost, as before, and the exit code is
// unchanged, but the failure leaves a trace once per run.
bool LogFailureReported = false;
// The lock files whose failure has been said, each once.
std::vector<std::string> LockFailuresReported;

void ReportLogFailure(const std::string& path, int reason) {
  if (LogFailureReported) return;
  LogFailureReported = true;
  std::fprintf(stderr, "kranzel: Logdatei %s kann nicht geschrieben werden: %s\n", path.c_str(),
               std::strerror(reason));
  std::fflush(stderr);
}

// Takes the lock beside an appended file; one that cannot be taken is said
// once per file on standard error (the log cannot carry it), and the write
// goes on without it, as before.
void TakeAppendLock(platform::FileLock& lock, const std::string& lockPath) {
  std::string error;
  if (lock.Lock(lockPath, error) == platform::FileLock::Status::Locked) return;
  std::vector<std::string>& reported = LockFailuresReported;
  if (std::find(reported.begin(), reported.end(), lockPath) != reported.end()) return;
  reported.push_back(lockPath);
  std::fprintf(stderr,
               "kranzel: Sperrdatei %s konnte nicht angelegt werden: %s. Weiter ohne Sperre.\n",
               lockPath.c_str(), error.c_str());
  std::fflush(stderr);
}

}  // namespace

int AppendRotated(const std::string& path, const std::string& oldPath, const std::string& bytes) {
  // Runs of other file types write at the same time: the append and the
  // rotation check after it are one step under the lock, so that only one
  // run rotates and the others then append to the new file.
  platform::FileLock lock;
  TakeAppendLock(lock, path + ".lock");

  // Binary: the size checked for the rotation is then the bytes in the file
  // on every platform.
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return errno != 0 ? errno : EIO;
  // Unbuffered: a write that fails leaves nothing in a buffer that closing
  // the file could still add to it.
  std::setvbuf(f, nullptr, _IONBF, 0);
  platform::FileStamp before;
  const bool sized = platform::StampOf(f, before);
  errno = 0;
  bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
  int reason = errno;
  // A line is in the file whole or not at all: what a full disk let through
  // of it is cut off again.
  if (!written && sized) platform::TruncateTo(f, before.size);
  platform::FileStamp after;
  if (platform::StampOf(f, after) && after.size > kLogRotateSize) {
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

}  // namespace klog
