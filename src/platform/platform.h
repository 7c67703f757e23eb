// The platform layer: everything the tool needs from the operating system
// that differs between the installations' platforms (paths, rename with
// replace, sleeping, local time, file removal, opening a regular file, the
// size and time of an open file and cutting it back, lock files). Nothing
// outside src/platform calls an operating-system interface that only one
// platform has.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The installation's relative path of a file, written with forward slashes
// ("../../Files/Valdura.Ini"), in the platform's own form.
std::string NativePath(const std::string& portable);

// The line end of the text files the tool writes (the log, new configuration
// files): CR LF on Windows, as the original's text-mode files. The console
// gets the same from the C runtime, whose standard output is in text mode.
#ifdef _WIN32
inline constexpr char kTextLineEnd[] = "\r\n";
#else
inline constexpr char kTextLineEnd[] = "\n";
#endif

// `text` with every line feed written as the platform's text line end, as a
// text-mode write of it would store it.
inline std::string TextLineEnds(const std::string& text) {
  if (kTextLineEnd[1] == '\0') return text;
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n')
      out += kTextLineEnd;
    else
      out += c;
  }
  return out;
}

// Renames `from` to `to`, replacing an existing file of that name atomically.
// Returns true on success.
bool RenameReplace(const std::string& from, const std::string& to);

// Renames `from` to `to` without replacing anything (fails when `to` exists
// on platforms that refuse it). Returns true on success.
bool RenameFile(const std::string& from, const std::string& to);

// Deletes a file. Returns true when it was deleted.
bool RemoveFile(const std::string& path);

// Writes `content` to a new file in the directory of `path`, with the
// permissions (and, where allowed, the owner) of the file at `path`, or,
// when there is none, readable and writable by its owner only on POSIX (the
// configuration file holds the password) and with the ACL it inherits from
// its folder on Windows, and flushes it to disk. Returns the new
// file's name in `tempPath`; on failure returns false with `error` set and
// leaves no file behind.
bool WriteFileBeside(const std::string& path, const std::string& content, std::string& tempPath,
                     std::string& error);

// Who may read a file that holds the database password, as the platform
// decides it: the mode bits on POSIX, the file's ACL on Windows.
struct FileReaders {
  bool known = false;   // false: the permissions could not be read
  std::string summary;  // what decides it: "mode 0644" or "ACL"
  std::string readers;  // Windows: every account and group the ACL lets read the
                        // file; POSIX: empty (the mode says it)
  std::string others;   // who beyond its owner (and, on Windows, Administrators
                        // and SYSTEM) may read it, e.g. "group and others" or
                        // "Everyone, BUILTIN\Users"; empty when nobody
  std::string fix;      // the command that makes it readable by one account
};
FileReaders ReadersOf(const std::string& path);

// What MayAccess tests.
enum class Access { Read, Write };

// Whether this process may read `path` (Access::Read), or write it
// (Access::Write; for a directory: create files in it), by the platform's
// own rules (the mode bits, or the ACL). Creates and changes nothing. On
// false, errno says why.
bool MayAccess(const std::string& path, Access what);

// Makes `dir` (a narrow path as given, in the system's code page on
// Windows) the working directory. On false, errno says why.
bool ChangeDirectory(const std::string& dir);

// The device that swallows what is written to it ("/dev/null", "NUL").
#ifdef _WIN32
inline constexpr char kNullDevice[] = "NUL";
#else
inline constexpr char kNullDevice[] = "/dev/null";
#endif

// Opens `path` for reading in binary mode when it names a regular file.
// A directory, a FIFO or a device is refused like a missing file (nullptr),
// and opening never blocks: a FIFO without a writer is refused at once.
std::FILE* OpenRegularFile(const std::string& path);
// The same, and on failure `why` says why in words: the operating system's
// reason, or what the path names instead of a regular file ("not a regular
// file (a FIFO)"). errno stays as the failed open left it (ENOENT for a
// missing file).
std::FILE* OpenRegularFile(const std::string& path, std::string& why);

// What tells one state of an open file from a later one: its size and the
// time it was last written (as finely as the file system keeps it).
struct FileStamp {
  long long size = -1;
  long long modified = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the open file `file`; false when it cannot be had.
bool StampOf(std::FILE* file, FileStamp& stamp);

// Cuts the open file `file` back to `size` bytes. Returns true on success.
bool TruncateTo(std::FILE* file, long long size);

// An advisory, exclusive lock on a lock file; released by Unlock, by the
// destructor, or by the operating system when the process ends.
//
// The lock is on the file the path names: a lock taken on a file that was
// removed (or replaced) before it was had is given up and the path opened
// again, so that removing a lock file cannot let two holders in.
class FileLock {
 public:
  enum class Status { Locked, Busy, Error };
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Opens `path` (creating it when missing) and tries to lock it without
  // waiting. Busy: another process holds it; Wait() then blocks until it is
  // had. Error: `error` says why (the file could not be created or locked).
  Status TryLock(const std::string& path, std::string& error);
  // After Busy: blocks until the lock is had (Locked). Busy: the lock was had
  // on a file that the path no longer names; it was given up, and TryLock
  // starts again on what the path names now. Error with `error` set on failure.
  Status Wait(std::string& error);
  // Takes the lock on `path`, waiting as long as others hold it.
  Status Lock(const std::string& path, std::string& error);
  void Unlock();

 private:
  // Whether the path still names the file held open.
  [[nodiscard]] bool StillNamed() const;
  std::intptr_t handle_ = -1;  // file descriptor (POSIX) or HANDLE (Windows)
  std::string path_;
};

// The identifier of this process (the run summary names it).
long ProcessId();

// Blocks the calling thread for `ms` milliseconds.
void SleepMs(unsigned long ms);

// The machine's local time now, formatted with strftime's `format`.
#if defined(__GNUC__)
__attribute__((format(strftime, 1, 0)))
#endif
std::string
LocalTimeText(const char* format);

}  // namespace platform
