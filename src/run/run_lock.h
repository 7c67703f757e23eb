// The locks of a run: runs that would touch the same table or the same work
// file never overlap on one installation. A run holds an advisory lock on
// one lock file per file type and one per work file, beside the log:
//
//   ../../Valdura_php/log/kranzel-<file type>.lock        e.g. kranzel-20P.lock
//   ../../Valdura_php/log/kranzel-wrk-<name>-<hash>.lock   e.g. kranzel-wrk-20P.wrk-1a2b3c4d.lock
//
// <name> is the work file's name without its directory, every character but
// letters, digits, '.', '-' and '_' replaced by '_'; <hash> is the FNV-1a
// hash (32 bits, 8 hex digits) of the work file's absolute path, so work
// files of one name in different directories do not share a lock.
#pragma once

#include <string>

#include "platform/platform.h"

namespace run {

struct RunLocks {
  platform::FileLock type;
  platform::FileLock work;
};

// The lock file of a file type and of a work file (path as given).
std::string TypeLockPath(const std::string& fileType);
std::string WorkLockPath(const std::string& work);

// Takes the run's locks, the file type's first and then the work file's, so
// that two runs never wait for each other in a circle. `fileType` empty: no
// table will be touched, only the work file is locked. A lock that is held
// by another run is waited for after one log line saying so; a lock file
// that cannot be created or locked is reported on standard error and in the
// log, and the run goes on without that lock.
void TakeRunLocks(const std::string& fileType, const std::string& work, RunLocks& locks);

}  // namespace run
