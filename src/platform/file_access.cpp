// POSIX side of who may read or write a file (the Windows one, which reads
// the ACL, is file_access_win.cpp): the mode bits decide. And the change of
// the working directory that kranzel-check --installation makes.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace platform {

FileReaders ReadersOf(const std::string& path) {
  FileReaders r;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return r;
  r.known = true;
  char mode[16];
  std::snprintf(mode, sizeof mode, "mode %04o", static_cast<unsigned>(st.st_mode & 07777));
  r.summary = mode;
  if ((st.st_mode & S_IRGRP) != 0) r.others = "group";
  if ((st.st_mode & S_IROTH) != 0) r.others += r.others.empty() ? "others" : " and others";
  r.fix = "chmod 600, chown that account";
  return r;
}

bool MayAccess(const std::string& path, Access what) {
  if (what == Access::Read) return ::access(path.c_str(), R_OK) == 0;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  // Creating a file in a directory needs its search right too.
  return ::access(path.c_str(), S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK) == 0;
}

bool ChangeDirectory(const std::string& dir) { return ::chdir(dir.c_str()) == 0; }

}  // namespace platform

#endif  // !_WIN32
