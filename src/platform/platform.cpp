// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <cstdio>
#include <ctime>
#include <cerrno>
#include <unistd.h>

namespace platform {

std::string NativePath(const std::string& portable) { return portable; }

bool RenameReplace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

void SleepMs(unsigned long ms) {
  struct timespec left;
  left.tv_sec = static_cast<time_t>(ms / 1000);
  left.tv_nsec = static_cast<long>((ms % 1000) * 1000000L);
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::string LocalTimeText(const char* format) {
  std::time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, format, &local);
  return std::string(buf, n);
}

}  // namespace platform
