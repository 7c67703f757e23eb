// The platform layer: everything the tool needs from the operating system
// that differs between the installations' platforms (paths, rename with
// replace, sleeping, local time, file removal). Nothing outside src/platform
// calls an operating-system interface that only one platform has.
#pragma once

#include <string>

namespace platform {

// The installation's relative path of a file, written with forward slashes
// ("../../Files/Valdura.Ini"), in the platform's own form.
std::string NativePath(const std::string& portable);

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
bool WriteFileBeside(const std::string& path, const std::string& content,
                     std::string& tempPath, std::string& error);

// Blocks the calling thread for `ms` milliseconds.
void SleepMs(unsigned long ms);

// The machine's local time now, formatted with strftime's `format`.
std::string LocalTimeText(const char* format);

}  // namespace platform
