// Windows implementation of the platform layer (the POSIX one is
// platform.cpp). Narrow (ANSI) file names throughout: the installations'
// paths and the command line's source path are used as given.
#ifdef _WIN32
#include "platform/platform.h"

#include "platform/last_error_win.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace platform {

void SetErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: errno = EACCES; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    default: errno = EIO; break;
  }
}

namespace {

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

// Gives `temp` the DACL of the file at `path` (it replaces that file), so an
// administrator's icacls on the configuration survives the next `set`. The
// DACL is copied as it is, inherited entries included (SetFileSecurity does
// not recompute inheritance), so the new file has exactly the old one's
// readers. Nothing to copy when there is no such file: the new file then
// keeps what it inherits from its folder.
bool CopyAcl(const std::string& path, const std::string& temp, std::string& error) {
  DWORD needed = 0;
  GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  const DWORD lookup = GetLastError();
  if (lookup == ERROR_FILE_NOT_FOUND || lookup == ERROR_PATH_NOT_FOUND) return true;
  std::string sd(needed, '\0');
  bool ok = needed > 0 &&
            GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed) &&
            SetFileSecurityA(temp.c_str(), DACL_SECURITY_INFORMATION, sd.data());
  if (!ok) error = "cannot give " + temp + " the access rules of " + path + ": " + LastErrorText();
  return ok;
}

}  // namespace

std::string NativePath(const std::string& portable) {
  std::string native = portable;
  for (char& c : native)
    if (c == '/') c = '\\';
  return native;
}

std::FILE* OpenRegularFile(const std::string& path, std::string& why) {
  why.clear();
  // A directory cannot be opened this way (that needs backup semantics); it
  // is named as what it is rather than by the access error it gives.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "not a regular file (a directory)";
    errno = EISDIR;
    return nullptr;
  }
  // Deletion and renaming by others stay allowed while the file is read, as
  // with the C runtime's fopen.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    why = LastErrorText();
    return nullptr;
  }
  // Pipes, consoles and devices are not disk files.
  const DWORD type = GetFileType(h);
  if (type != FILE_TYPE_DISK) {
    CloseHandle(h);
    why = type == FILE_TYPE_PIPE   ? "not a regular file (a pipe)"
          : type == FILE_TYPE_CHAR ? "not a regular file (a character device or console)"
                                   : "not a regular file";
    errno = EINVAL;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    why = std::strerror(errno);
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "rb");
  if (f == nullptr) {
    why = std::strerror(errno);
    _close(fd);  // closes the handle too
  }
  return f;
}

std::FILE* OpenRegularFile(const std::string& path) {
  std::string why;
  return OpenRegularFile(path, why);
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
  // Windows has no mode bits to copy: the new file keeps the old file's ACL
  // (CopyAcl) or, when there is none, inherits its folder's, as the
  // configuration file did when it was created there (other components of
  // the installation read it); and it keeps the old file's
  // hidden/system/archive attributes. A read-only
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
  if (ok && oldAttributes != INVALID_FILE_ATTRIBUTES) ok = CopyAcl(path, temp, error);
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

bool StampOf(std::FILE* file, FileStamp& stamp) {
  // The C runtime hands the HANDLE out as an integer.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return false;
  stamp.size = (static_cast<long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modified = (static_cast<long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                   info.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool TruncateTo(std::FILE* file, long long size) { return _chsize_s(_fileno(file), size) == 0; }

// The lock covers the first byte of the lock file; the file's contents are
// never read or written.
FileLock::~FileLock() { Unlock(); }

// A lock file's time says when it was last taken, so that a clean-up of old
// files in the log directory passes over a lock in use.
static void Touch(HANDLE h) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(h, nullptr, nullptr, &now);
}

bool FileLock::StillNamed() const {
  BY_HANDLE_FILE_INFORMATION held;
  BY_HANDLE_FILE_INFORMATION named;
  // The header keeps the HANDLE in an integer, the same on both platforms.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &held)) return false;
  HANDLE h = CreateFileA(path_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool got = GetFileInformationByHandle(h, &named);
  CloseHandle(h);
  return got && held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
         held.nFileIndexHigh == named.nFileIndexHigh && held.nFileIndexLow == named.nFileIndexLow;
}

FileLock::Status FileLock::TryLock(const std::string& path, std::string& error) {
  // A file removed between our open and our lock is let go and the path
  // opened again; the bound only keeps a path that is replaced without end
  // from holding the run.
  for (int round = 0; round < 100; ++round) {
    Unlock();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error = "cannot open the lock file " + path + ": " + LastErrorText();
      return Status::Error;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    path_ = path;
    OVERLAPPED at = {};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      if (GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING)
        return Status::Busy;
      error = "cannot lock " + path + ": " + LastErrorText();
      Unlock();
      return Status::Error;
    }
    if (StillNamed()) {
      Touch(h);
      return Status::Locked;
    }
  }
  error = "the lock file " + path + " is replaced again and again";
  Unlock();
  return Status::Error;
}

FileLock::Status FileLock::Wait(std::string& error) {
  if (handle_ == -1) {
    error = "no lock file is open";
    return Status::Error;
  }
  OVERLAPPED at = {};
  // The header keeps the HANDLE in an integer, the same on both platforms.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (!LockFileEx(reinterpret_cast<HANDLE>(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    error = "cannot lock: " + LastErrorText();
    return Status::Error;
  }
  if (StillNamed()) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    Touch(reinterpret_cast<HANDLE>(handle_));
    return Status::Locked;
  }
  // Removed while we waited: whoever comes now opens the new file, so this
  // lock keeps nobody out.
  Unlock();
  return Status::Busy;
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
