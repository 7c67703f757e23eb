// printf-style formatting into a std::string of whatever length it needs,
// with formats the compiler checks: a FormatString<Args...> can only be made
// at compile time, from a format whose conversions match Args in number and
// kind. Messages and statements are printf formats kept as data (constants
// of an importer, members of its cycle), which printf's own format checking
// cannot see; this type checks them where they are written.
#pragma once

#include <cstdarg>
#include <string>
#include <type_traits>

namespace util {

// The kinds of value a conversion of the tool's formats takes.
enum class ArgKind { Int, Short, Long, LongLong, Text, Unknown };

template <typename T>
constexpr ArgKind KindOf() {
  using U = std::remove_cvref_t<std::decay_t<T>>;
  if constexpr (std::is_same_v<U, int>)
    return ArgKind::Int;
  else if constexpr (std::is_same_v<U, short>)
    return ArgKind::Short;
  else if constexpr (std::is_same_v<U, long>)
    return ArgKind::Long;
  else if constexpr (std::is_same_v<U, long long>)
    return ArgKind::LongLong;
  else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, const char*> ||
                     std::is_same_v<U, char*>)
    return ArgKind::Text;
  else
    return ArgKind::Unknown;
}

// Which conversions a format may use: printf's (as below), or only the plain
// ones without flags, width or precision, which statements are written with
// and their own formatter knows.
enum class Conversions { Printf, Plain };

// Whether `format` has exactly one conversion per kind, in order. Knows the
// conversions the tool uses: %s, %d/%i with h, l or ll, and %%; flags, a
// width and a precision given as digits (not with Conversions::Plain).
// Anything else does not match.
constexpr bool FormatMatches(const char* format, const ArgKind* kinds, std::size_t count,
                             Conversions allowed = Conversions::Printf) {
  std::size_t used = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    const char* conversion = p;  // flags, width and precision start here
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    if (allowed == Conversions::Plain && p != conversion) return false;
    int longs = 0;
    bool half = false;
    if (*p == 'h') {
      half = true;
      ++p;
    } else {
      while (*p == 'l' && longs < 2) {
        ++longs;
        ++p;
      }
    }
    if (used == count) return false;
    const ArgKind kind = kinds[used++];
    if (*p == 's') {
      if (half || longs != 0 || kind != ArgKind::Text) return false;
    } else if (*p == 'd' || *p == 'i') {
      // A short reaches printf as an int, and %hd takes an int back.
      const bool fits = half         ? kind == ArgKind::Short || kind == ArgKind::Int
                        : longs == 0 ? kind == ArgKind::Int || kind == ArgKind::Short
                        : longs == 1 ? kind == ArgKind::Long
                                     : kind == ArgKind::LongLong;
      if (!fits) return false;
    } else {
      return false;
    }
  }
  return used == count;
}

// A printf format checked against the kinds of its arguments when it is
// made. Made from a string that is not a constant, or from one that does not
// match, it does not compile.
template <Conversions Allowed, typename... Args>
class BasicCheckedFormat {
 public:
  template <typename S>
    requires std::is_convertible_v<const S&, const char*>
  consteval BasicCheckedFormat(const S& format) : text_(format) {  // NOLINT: implicit on purpose
    constexpr ArgKind kinds[sizeof...(Args) + 1] = {KindOf<Args>()..., ArgKind::Unknown};
    if (!FormatMatches(text_, kinds, sizeof...(Args), Allowed))
      throw "format does not match its arguments";
  }
  // No format: for a message that a step without a statement never writes.
  constexpr BasicCheckedFormat() = default;
  [[nodiscard]] constexpr const char* text() const { return text_; }
  [[nodiscard]] constexpr bool empty() const { return text_ == nullptr; }

 private:
  const char* text_ = nullptr;
};

template <typename... Args>
using CheckedFormat = BasicCheckedFormat<Conversions::Printf, Args...>;

// The format for arguments of the types Args; in a function template's
// parameter list it does not take part in deducing Args.
template <typename... Args>
using FormatString = CheckedFormat<std::type_identity_t<Args>...>;

// The same for a format of plain conversions only (%s, %d with h, l or ll,
// %%): the statements' formats.
template <typename... Args>
using PlainFormatString = BasicCheckedFormat<Conversions::Plain, std::type_identity_t<Args>...>;

// printf into a string. Callers go through Format, whose format is checked.
std::string VFormat(const char* format, std::va_list args);
std::string FormatUnchecked(const char* format, ...);

namespace detail {
inline const char* Pass(const std::string& s) { return s.c_str(); }
template <typename T>
  requires(!std::is_same_v<std::remove_cvref_t<T>, std::string>)
const T& Pass(const T& value) { return value; }
}  // namespace detail

// Formats `args` (texts as std::string or C strings, integers) by `format`.
template <typename... Args>
std::string Format(FormatString<Args...> format, const Args&... args) {
  return FormatUnchecked(format.text(), detail::Pass(args)...);
}

}  // namespace util
