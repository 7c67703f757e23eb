// The local time for the log's timestamps, the same on every platform but
// for the reentrant conversion each C runtime offers.
#include <ctime>

#include "platform/platform.h"

namespace platform {

std::string LocalTimeText(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char buf[64];
  // The format is checked at the callers (the strftime attribute on the
  // declaration); here it can only be passed on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::size_t n = std::strftime(buf, sizeof buf, format, &local);
#pragma GCC diagnostic pop
  return std::string(buf, n);
}

}  // namespace platform
