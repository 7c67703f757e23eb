// printf into std::string, sized by a first measuring pass.
#include "util/format.h"

#include <cstdio>

namespace util {

// The formats reach here checked when compiled (FormatString in format.h);
// clang's -Wformat-nonliteral cannot see that through the va_list.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string VFormat(const char* format, std::va_list args) {
  std::va_list measure;
  va_copy(measure, args);
  int n = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}
#pragma GCC diagnostic pop

std::string FormatUnchecked(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string out = VFormat(format, args);
  va_end(args);
  return out;
}

}  // namespace util
