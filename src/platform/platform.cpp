// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <cstdio>
#include <ctime>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace platform {

std::string NativePath(const std::string& portable) { return portable; }

bool RenameReplace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool WriteFileBeside(const std::string& path, const std::string& content,
                     std::string& tempPath, std::string& error) {
  std::string temp = path + ".kranzel-ini.XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat old;
  if (::stat(path.c_str(), &old) == 0) {
    ::fchmod(fd, old.st_mode & 07777);
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Not permitted for other users' files; the new file keeps ours.
    }
  }
  // A new file keeps mkstemp's 0600: the configuration holds the password.
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot write " + temp + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    error = "cannot write " + temp + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  tempPath = temp;
  return true;
}

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
