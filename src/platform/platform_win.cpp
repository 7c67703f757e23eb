// Windows implementation of the platform layer (the POSIX one is
// platform.cpp). Narrow (ANSI) file names throughout: the installations'
// paths and the command line's source path are used as given.
#ifdef _WIN32
#include "platform/platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace platform {

namespace {

// errno for the last Windows error, so callers that report strerror(errno)
// say something true on both platforms.
void SetErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: errno = EACCES; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    default: errno = EIO; break;
  }
}

std::string LastErrorText() {
  DWORD code = GetLastError();
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  while (n > 0 &&
         (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ' || buf[n - 1] == '.'))
    --n;
  if (n == 0) return "Windows error " + std::to_string(code);
  return std::string(buf, n);
}

}  // namespace

std::string NativePath(const std::string& portable) {
  std::string native = portable;
  for (char& c : native)
    if (c == '/') c = '\\';
  return native;
}

std::FILE* OpenRegularFile(const std::string& path) {
  // Deletion and renaming by others stay allowed while the file is read, as
  // with the C runtime's fopen.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return nullptr;
  }
  // A directory cannot be opened this way (that needs backup semantics);
  // pipes, consoles and devices are not disk files.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    errno = EINVAL;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "rb");
  if (f == nullptr) _close(fd);  // closes the handle too
  return f;
}

bool RenameReplace(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  SetErrnoFromLastError();
  return false;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), 0)) return true;
  SetErrnoFromLastError();
  return false;
}

bool RemoveFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

bool WriteFileBeside(const std::string& path, const std::string& content, std::string& tempPath,
                     std::string& error) {
  // Windows has no mode bits to copy; the new file takes the directory's
  // access rules, as the configuration file did when it was created there,
  // and keeps the old file's hidden/system/archive attributes. A read-only
  // file is left read-only: replacing it then fails, as it should.
  const DWORD oldAttributes = GetFileAttributesA(path.c_str());
  const std::string base = path + ".kranzel-ini.";
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string temp;
  for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = base + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot create a file beside " + path + ": " + LastErrorText();
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < content.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
    DWORD written = 0;
    ok = WriteFile(h, content.data() + done, chunk, &written, nullptr) && written > 0;
    done += written;
  }
  if (ok) ok = FlushFileBuffers(h);
  if (!ok) error = "cannot write " + temp + ": " + LastErrorText();
  if (!CloseHandle(h) && ok) {
    ok = false;
    error = "cannot write " + temp + ": " + LastErrorText();
  }
  if (!ok) {
    DeleteFileA(temp.c_str());
    return false;
  }
  if (oldAttributes != INVALID_FILE_ATTRIBUTES) {
    const DWORD keep = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    if (oldAttributes & keep) SetFileAttributesA(temp.c_str(), oldAttributes & keep);
  }
  tempPath = temp;
  return true;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

void SleepMs(unsigned long ms) { Sleep(static_cast<DWORD>(ms)); }

// The lock covers the first byte of the lock file; the file's contents are
// never read or written.
FileLock::~FileLock() { Unlock(); }

FileLock::Status FileLock::TryLock(const std::string& path, std::string& error) {
  Unlock();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open the lock file " + path + ": " + LastErrorText();
    return Status::Error;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  OVERLAPPED at = {};
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
    return Status::Locked;
  if (GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING)
    return Status::Busy;
  error = "cannot lock " + path + ": " + LastErrorText();
  Unlock();
  return Status::Error;
}

bool FileLock::Wait(std::string& error) {
  if (handle_ == -1) {
    error = "no lock file is open";
    return false;
  }
  OVERLAPPED at = {};
  // The header keeps the HANDLE in an integer, the same on both platforms.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (LockFileEx(reinterpret_cast<HANDLE>(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at))
    return true;
  error = "cannot lock: " + LastErrorText();
  return false;
}

void FileLock::Unlock() {
  if (handle_ == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);  // NOLINT(performance-no-int-to-ptr): as above
  OVERLAPPED at = {};
  UnlockFileEx(h, 0, 1, 0, &at);
  CloseHandle(h);
  handle_ = -1;
}

}  // namespace platform

#endif  // _WIN32
