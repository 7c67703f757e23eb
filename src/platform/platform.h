// The platform layer: everything the tool needs from the operating system
// that differs between the installations' platforms (paths, rename with
// replace, sleeping, local time, file removal, opening a regular file, lock
// files). Nothing outside src/platform calls an operating-system interface
// that only one platform has.
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
// when there is none, readable and writable by its owner only (the
// configuration file holds the password), and flushes it to disk. Returns the new
// file's name in `tempPath`; on failure returns false with `error` set and
// leaves no file behind.
bool WriteFileBeside(const std::string& path, const std::string& content, std::string& tempPath,
                     std::string& error);

// Opens `path` for reading in binary mode when it names a regular file.
// A directory, a FIFO or a device is refused like a missing file (nullptr),
// and opening never blocks: a FIFO without a writer is refused at once.
std::FILE* OpenRegularFile(const std::string& path);
// The same, and on failure `why` says why in words: the operating system's
// reason, or what the path names instead of a regular file ("not a regular
// file (a FIFO)"). errno stays as the failed open left it (ENOENT for a
// missing file).
std::FILE* OpenRegularFile(const std::string& path, std::string& why);

// An advisory, exclusive lock on a lock file; released by Unlock, by the
// destructor, or by the operating system when the process ends.
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
  // After Busy: blocks until the lock is had. False with `error` set on failure.
  bool Wait(std::string& error);
  void Unlock();

 private:
  std::intptr_t handle_ = -1;  // file descriptor (POSIX) or HANDLE (Windows)
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
