// POSIX implementation of the platform layer (the Windows one is
// platform_win.cpp).
#ifndef _WIN32
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <ctime>

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

bool WriteFileBeside(const std::string& path, const std::string& content, std::string& tempPath,
                     std::string& error) {
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

namespace {

// What a file that is not a regular one is, for a message.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, std::string& why) {
  why.clear();
  // O_NONBLOCK keeps the open of a FIFO without a writer from waiting; it is
  // cleared again once the file is known to be a regular one.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int reason = errno;
    why = std::strerror(reason);
    ::close(fd);
    errno = reason;
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    why = std::string("not a regular file (") + KindOf(st.st_mode) + ")";
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int reason = errno;
    why = std::strerror(reason);
    ::close(fd);
    errno = reason;
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    const int reason = errno;
    why = std::strerror(reason);
    ::close(fd);
    errno = reason;
  }
  return file;
}

bool StampOf(std::FILE* file, FileStamp& stamp) {
  struct stat st;
  if (::fstat(::fileno(file), &st) != 0) return false;
  stamp.size = static_cast<long long>(st.st_size);
  stamp.modified = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

bool TruncateTo(std::FILE* file, long long size) {
  return ::ftruncate(::fileno(file), static_cast<off_t>(size)) == 0;
}

std::FILE* OpenRegularFile(const std::string& path) {
  std::string why;
  return OpenRegularFile(path, why);
}

FileLock::~FileLock() { Unlock(); }

// A lock file's time says when it was last taken, so that a clean-up of old
// files in the log directory passes over a lock in use.
static void Touch(int fd) { ::futimens(fd, nullptr); }

// flock(2), taken again when a signal interrupts it.
static int Flock(int fd, int operation) {
  int rc;
  while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
  }
  return rc;
}

bool FileLock::StillNamed() const {
  struct stat held;
  struct stat named;
  return ::fstat(static_cast<int>(handle_), &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

FileLock::Status FileLock::TryLock(const std::string& path, std::string& error) {
  // A file removed between our open and our lock is let go and the path
  // opened again; the bound only keeps a path that is replaced without end
  // from holding the run.
  for (int round = 0; round < 100; ++round) {
    Unlock();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      error = std::strerror(errno);
      return Status::Error;
    }
    handle_ = fd;
    path_ = path;
    if (Flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return Status::Busy;
      error = std::strerror(errno);
      Unlock();
      return Status::Error;
    }
    if (StillNamed()) {
      Touch(fd);
      return Status::Locked;
    }
  }
  error = "the lock file is replaced again and again";
  Unlock();
  return Status::Error;
}

FileLock::Status FileLock::Wait(std::string& error) {
  if (handle_ < 0) {
    error = std::strerror(EBADF);
    return Status::Error;
  }
  int fd = static_cast<int>(handle_);
  if (Flock(fd, LOCK_EX) != 0) {
    error = std::strerror(errno);
    Unlock();
    return Status::Error;
  }
  if (StillNamed()) {
    Touch(fd);
    return Status::Locked;
  }
  // Removed while we waited: whoever comes now opens the new file, so this
  // lock keeps nobody out.
  Unlock();
  return Status::Busy;
}

void FileLock::Unlock() {
  if (handle_ < 0) return;
  // Closing the descriptor releases the lock.
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

long ProcessId() { return static_cast<long>(getpid()); }

void SleepMs(unsigned long ms) {
  struct timespec left;
  left.tv_sec = static_cast<time_t>(ms / 1000);
  left.tv_nsec = static_cast<long>((ms % 1000) * 1000000L);
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace platform

#endif  // !_WIN32
