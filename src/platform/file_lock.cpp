// The part of the lock files that is the same on every platform: waiting
// for a lock until it is had on the file its path names.
#include "platform/platform.h"

namespace platform {

FileLock::Status FileLock::Lock(const std::string& path, std::string& error) {
  for (;;) {
    Status status = TryLock(path, error);
    if (status != Status::Busy) return status;
    status = Wait(error);
    if (status != Status::Busy) return status;
  }
}

}  // namespace platform
