// Run log: timestamped lines, open/append/close per message, one rotated
// generation.
#include "log/log.h"

#include <cstdio>

#include "platform/platform.h"
#include "util/format.h"

int DebugFlag = 0;
std::string LogPath;
std::string OldLogPath;

void WriteLog(const std::string& text) {
  if (DebugFlag) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return;
  }
  // Binary, with the platform's line ends written out (a line feed inside the
  // message too, as a text-mode write would): the size checked for the
  // rotation is then the bytes in the file on every platform.
  std::FILE* f = std::fopen(LogPath.c_str(), "ab");
  if (f == nullptr) return;
  std::string line = platform::LocalTimeText("%Y-%m-%d %H:%M:%S");
  line += ' ';
  line += text;
  line += '\n';
  line = platform::TextLineEnds(line);
  std::fwrite(line.data(), 1, line.size(), f);
  std::fflush(f);
  long size = std::ftell(f);
  if (size > kLogRotateSize) {
    std::fclose(f);
    platform::RemoveFile(OldLogPath);
    platform::RenameFile(LogPath, OldLogPath);
    f = std::fopen(LogPath.c_str(), "ab");
  }
  if (f != nullptr) std::fclose(f);
}
