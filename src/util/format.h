// printf-style formatting into a std::string of whatever length it needs.
#pragma once

#include <cstdarg>
#include <string>

namespace util {

std::string VFormat(const char* format, std::va_list args);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* format, ...);

}  // namespace util
