// Result values into C types: text (narrow and wide, in pieces), binary,
// the integer and floating types, bit, and the date/time structures.
#include "driver_convert.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace standin {

namespace {

SQLSMALLINT DefaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_TINYINT: return SQL_C_UTINYINT;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_TYPE_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_TYPE_DATE: return SQL_C_TYPE_DATE;
    case SQL_VARBINARY: return SQL_C_BINARY;
    default: return SQL_C_CHAR;
  }
}

// UTF-8 to UTF-16; a byte that does not start a valid sequence becomes
// U+FFFD.
std::u16string Utf16(const unsigned char* s, std::size_t n) {
  std::u16string out;
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= n;
      std::uint32_t v = b & (0x7F >> len);
      for (std::size_t k = 1; ok && k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (s[i + k] & 0x3F);
      }
      if (ok) {
        cp = v;
      } else {
        len = 1;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

// Writes the rest of a value from `offset` on in units of `unit` bytes,
// with a terminator of `terminator` units when asked.
SQLRETURN PutPieces(Handle* h, const char* data, std::size_t size, std::size_t unit, bool terminate, SQLPOINTER target,
                    SQLLEN length, SQLLEN* indicator, std::size_t& offset, bool& more) {
  std::size_t rest = offset < size ? size - offset : 0;
  if (indicator != nullptr) *indicator = static_cast<SQLLEN>(rest);
  std::size_t room = length > 0 ? static_cast<std::size_t>(length) : 0;
  if (terminate) room = room >= unit ? room - unit : 0;
  room -= room % unit;
  if (target == nullptr || (room == 0 && rest > 0)) {
    more = rest > 0;
    if (rest > 0) {
      h->Warn("01004", "String data, right truncated");
      return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
  }
  std::size_t n = rest < room ? rest : room;
  char* out = static_cast<char*>(target);
  if (n > 0) std::memcpy(out, data + offset, n);
  if (terminate) std::memset(out + n, 0, unit);
  offset += n;
  more = n < rest;
  if (more) {
    h->Warn("01004", "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

struct Number {
  bool isInteger = true;
  long long i = 0;
  double d = 0;
};

// The value as a number; false when its text is not one.
bool ReadNumber(sqlite3_stmt* st, int col, Number& n) {
  switch (sqlite3_column_type(st, col)) {
    case SQLITE_INTEGER:
      n.i = sqlite3_column_int64(st, col);
      n.d = static_cast<double>(n.i);
      return true;
    case SQLITE_FLOAT:
      n.isInteger = false;
      n.d = sqlite3_column_double(st, col);
      return true;
    default: break;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  std::string s = text != nullptr ? text : "";
  std::size_t b = s.find_first_not_of(" \t");
  std::size_t e = s.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  s = s.substr(b, e - b + 1);
  errno = 0;
  char* end = nullptr;
  long long i = std::strtoll(s.c_str(), &end, 10);
  if (end != nullptr && *end == '\0' && errno == 0) {
    n.i = i;
    n.d = static_cast<double>(i);
    return true;
  }
  errno = 0;
  double d = std::strtod(s.c_str(), &end);
  if (end != nullptr && *end == '\0' && errno == 0 && std::isfinite(d)) {
    n.isInteger = false;
    n.d = d;
    return true;
  }
  return false;
}

template <typename T>
SQLRETURN PutInteger(Handle* h, const Number& n, SQLPOINTER target, SQLLEN* indicator) {
  SQLRETURN rc = SQL_SUCCESS;
  T value{};
  if (n.isInteger) {
    if constexpr (std::numeric_limits<T>::is_signed) {
      if (n.i < static_cast<long long>(std::numeric_limits<T>::min()) ||
          n.i > static_cast<long long>(std::numeric_limits<T>::max())) {
        return h->Error("22003", 0, std::string(kDriverPrefix) + "Numeric value out of range");
      }
    } else {
      if (n.i < 0 || static_cast<unsigned long long>(n.i) > std::numeric_limits<T>::max()) {
        return h->Error("22003", 0, std::string(kDriverPrefix) + "Numeric value out of range");
      }
    }
    value = static_cast<T>(n.i);
  } else {
    double t = std::trunc(n.d);
    if (!(t >= static_cast<double>(std::numeric_limits<T>::min()) &&
          t <= static_cast<double>(std::numeric_limits<T>::max()))) {
      return h->Error("22003", 0, std::string(kDriverPrefix) + "Numeric value out of range");
    }
    value = static_cast<T>(t);
    if (t != n.d) {
      h->Warn("01S07", "Fractional truncation");
      rc = SQL_SUCCESS_WITH_INFO;
    }
  }
  if (target != nullptr) std::memcpy(target, &value, sizeof value);
  if (indicator != nullptr) *indicator = sizeof value;
  return rc;
}

// Reads "yyyy-mm-dd[( |T)hh:mm[:ss[.fffffffff]]]" or "hh:mm:ss".
bool ParseDateTime(const std::string& s, SQL_TIMESTAMP_STRUCT& ts) {
  ts = SQL_TIMESTAMP_STRUCT{};
  auto digits = [&s](std::size_t at, std::size_t count, long& out) {
    if (at + count > s.size()) return false;
    out = 0;
    for (std::size_t k = 0; k < count; ++k) {
      char c = s[at + k];
      if (c < '0' || c > '9') return false;
      out = out * 10 + (c - '0');
    }
    return true;
  };
  long y = 0, mo = 0, d = 0, hh = 0, mi = 0, ss = 0;
  std::size_t p = 0;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!digits(0, 4, y) || !digits(5, 2, mo) || !digits(8, 2, d)) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
    p = 10;
    if (p == s.size()) {
      ts.year = static_cast<SQLSMALLINT>(y);
      ts.month = static_cast<SQLUSMALLINT>(mo);
      ts.day = static_cast<SQLUSMALLINT>(d);
      return true;
    }
    if (s[p] != ' ' && s[p] != 'T') return false;
    ++p;
  }
  if (!digits(p, 2, hh) || p + 2 >= s.size() || s[p + 2] != ':' || !digits(p + 3, 2, mi)) return false;
  p += 5;
  if (p < s.size() && s[p] == ':') {
    if (!digits(p + 1, 2, ss)) return false;
    p += 3;
  }
  unsigned long fraction = 0;
  if (p < s.size() && s[p] == '.') {
    ++p;
    unsigned long scale = 100000000;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
      fraction += static_cast<unsigned long>(s[p] - '0') * scale;
      scale /= 10;
      ++p;
    }
  }
  if (p != s.size() || hh > 23 || mi > 59 || ss > 59) return false;
  ts.year = static_cast<SQLSMALLINT>(y);
  ts.month = static_cast<SQLUSMALLINT>(mo);
  ts.day = static_cast<SQLUSMALLINT>(d);
  ts.hour = static_cast<SQLUSMALLINT>(hh);
  ts.minute = static_cast<SQLUSMALLINT>(mi);
  ts.second = static_cast<SQLUSMALLINT>(ss);
  ts.fraction = static_cast<SQLUINTEGER>(fraction);
  return true;
}

SQLRETURN CastFailure(Handle* h) {
  return h->Error("22018", 0, std::string(kDriverPrefix) + "Invalid character value for the conversion");
}

}  // namespace

bool IsSupportedCType(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_DEFAULT:
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_DOUBLE:
    case SQL_C_FLOAT:
    case SQL_C_BIT:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: return true;
    default: return false;
  }
}

SQLRETURN ConvertColumn(Handle* h, sqlite3_stmt* st, int i, const ColumnInfo& info, SQLSMALLINT cType,
                        SQLPOINTER target, SQLLEN length, SQLLEN* indicator, std::size_t& offset, bool& more) {
  more = false;
  if (sqlite3_column_type(st, i) == SQLITE_NULL) {
    if (indicator == nullptr) {
      return h->Error("22002", 0, std::string(kDriverPrefix) + "Indicator variable required but not supplied");
    }
    *indicator = SQL_NULL_DATA;
    return SQL_SUCCESS;
  }
  if (cType == SQL_C_DEFAULT) cType = DefaultCType(info.sqlType);

  switch (cType) {
    case SQL_C_CHAR: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(st, i));
      return PutPieces(h, text != nullptr ? text : "", size, 1, true, target, length, indicator, offset, more);
    }
    case SQL_C_WCHAR: {
      const unsigned char* text = sqlite3_column_text(st, i);
      std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(st, i));
      std::u16string wide = Utf16(text != nullptr ? text : reinterpret_cast<const unsigned char*>(""), size);
      return PutPieces(h, reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(char16_t), sizeof(char16_t),
                       true, target, length, indicator, offset, more);
    }
    case SQL_C_BINARY: {
      const void* blob = sqlite3_column_blob(st, i);
      std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(st, i));
      return PutPieces(h, blob != nullptr ? static_cast<const char*>(blob) : "", size, 1, false, target, length,
                       indicator, offset, more);
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      SQL_TIMESTAMP_STRUCT ts;
      if (text == nullptr || !ParseDateTime(text, ts)) return CastFailure(h);
      if (cType == SQL_C_TYPE_TIMESTAMP || cType == SQL_C_TIMESTAMP) {
        if (target != nullptr) std::memcpy(target, &ts, sizeof ts);
        if (indicator != nullptr) *indicator = sizeof ts;
      } else if (cType == SQL_C_TYPE_DATE || cType == SQL_C_DATE) {
        SQL_DATE_STRUCT d{ts.year, ts.month, ts.day};
        if (target != nullptr) std::memcpy(target, &d, sizeof d);
        if (indicator != nullptr) *indicator = sizeof d;
      } else {
        SQL_TIME_STRUCT t{ts.hour, ts.minute, ts.second};
        if (target != nullptr) std::memcpy(target, &t, sizeof t);
        if (indicator != nullptr) *indicator = sizeof t;
      }
      return SQL_SUCCESS;
    }
    default: break;
  }

  Number n;
  if (!ReadNumber(st, i, n)) return CastFailure(h);
  switch (cType) {
    case SQL_C_LONG:
    case SQL_C_SLONG: return PutInteger<SQLINTEGER>(h, n, target, indicator);
    case SQL_C_ULONG: return PutInteger<SQLUINTEGER>(h, n, target, indicator);
    case SQL_C_SHORT:
    case SQL_C_SSHORT: return PutInteger<SQLSMALLINT>(h, n, target, indicator);
    case SQL_C_USHORT: return PutInteger<SQLUSMALLINT>(h, n, target, indicator);
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: return PutInteger<SQLSCHAR>(h, n, target, indicator);
    case SQL_C_UTINYINT: return PutInteger<SQLCHAR>(h, n, target, indicator);
    case SQL_C_SBIGINT: return PutInteger<SQLBIGINT>(h, n, target, indicator);
    case SQL_C_UBIGINT: return PutInteger<SQLUBIGINT>(h, n, target, indicator);
    case SQL_C_BIT: {
      double v = n.isInteger ? static_cast<double>(n.i) : n.d;
      if (v < 0 || v >= 2) return h->Error("22003", 0, std::string(kDriverPrefix) + "Numeric value out of range");
      unsigned char bit = v >= 1 ? 1 : 0;
      if (target != nullptr) std::memcpy(target, &bit, 1);
      if (indicator != nullptr) *indicator = 1;
      if (v != 0 && v != 1) {
        h->Warn("01S07", "Fractional truncation");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    }
    case SQL_C_DOUBLE: {
      SQLDOUBLE v = n.isInteger ? static_cast<double>(n.i) : n.d;
      if (target != nullptr) std::memcpy(target, &v, sizeof v);
      if (indicator != nullptr) *indicator = sizeof v;
      return SQL_SUCCESS;
    }
    case SQL_C_FLOAT: {
      SQLREAL v = static_cast<SQLREAL>(n.isInteger ? static_cast<double>(n.i) : n.d);
      if (target != nullptr) std::memcpy(target, &v, sizeof v);
      if (indicator != nullptr) *indicator = sizeof v;
      return SQL_SUCCESS;
    }
    default: return h->Error("HY003", 0, std::string(kDriverPrefix) + "Program type out of range");
  }
}

}  // namespace standin
