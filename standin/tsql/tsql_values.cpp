// Values with SQL Server's semantics: errors, datetime, text, integers.
#include "tsql_values.h"

#include <cmath>
#include <cstdio>

namespace tsql {

// ---- errors ---------------------------------------------------------------

Error MakeError(int native, const std::string& sqlstate, const std::string& message) {
  Error e;
  e.native = native;
  e.sqlstate = sqlstate;
  e.message = message;
  return e;
}

Error SyntaxError(std::string_view near) {
  return MakeError(102, "42000", "Incorrect syntax near '" + std::string(near) + "'.");
}
Error InvalidColumn(std::string_view name) {
  return MakeError(207, "42S22", "Invalid column name '" + std::string(name) + "'.");
}
Error InvalidObject(std::string_view name) {
  return MakeError(208, "42S02", "Invalid object name '" + std::string(name) + "'.");
}
Error DateConversionError() {
  return MakeError(241, "22007", "Conversion failed when converting date and/or time from character string.");
}
Error DateRangeError() {
  return MakeError(242, "22008",
                   "The conversion of a varchar data type to a datetime data type resulted in an out-of-range value.");
}
Error IntConversionError(std::string_view text, const char* type) {
  return MakeError(
      245, "22018",
      "Conversion failed when converting the varchar value '" + std::string(text) + "' to data type " + type + ".");
}
Error TruncationError() { return MakeError(8152, "22001", "String or binary data would be truncated."); }

std::string EncodeError(const Error& e) {
  return "TSQL:" + std::to_string(e.native) + ":" + e.sqlstate + ":" + e.message;
}

bool DecodeError(std::string_view text, Error& e) {
  if (text.substr(0, 5) != "TSQL:") return false;
  std::size_t a = text.find(':', 5);
  if (a == std::string_view::npos) return false;
  std::size_t b = text.find(':', a + 1);
  if (b == std::string_view::npos) return false;
  int native = 0;
  for (std::size_t i = 5; i < a; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    native = native * 10 + (text[i] - '0');
    if (native > 1000000) return false;
  }
  e.native = native;
  e.sqlstate.assign(text.substr(a + 1, b - a - 1));
  e.message.assign(text.substr(b + 1));
  return true;
}

// ---- datetime ---------------------------------------------------------------

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool InRange(const DateTime& dt) { return dt.year >= 1753 && dt.year <= 9999; }

// Milliseconds since 1970 of a valid DateTime, and back.
int64_t ToMillis(const DateTime& dt) {
  return DaysFromCivil(dt.year, dt.month, dt.day) * 86400000LL +
         ((dt.hour * 60LL + dt.minute) * 60LL + dt.second) * 1000LL + dt.millis;
}

void FromMillis(int64_t ms, DateTime& dt) {
  int64_t days = ms >= 0 ? ms / 86400000LL : -((-ms + 86399999LL) / 86400000LL);
  int64_t rest = ms - days * 86400000LL;
  CivilFromDays(days, dt.year, dt.month, dt.day);
  dt.hour = static_cast<int>(rest / 3600000LL);
  dt.minute = static_cast<int>(rest / 60000LL % 60);
  dt.second = static_cast<int>(rest / 1000LL % 60);
  dt.millis = static_cast<int>(rest % 1000LL);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigitC(char c) { return c >= '0' && c <= '9'; }

// Reads a run of digits at `pos`; returns its length (0: none).
std::size_t Digits(std::string_view s, std::size_t pos, int& value) {
  std::size_t k = pos;
  value = 0;
  while (k < s.size() && IsDigitC(s[k]) && k - pos < 9) {
    value = value * 10 + (s[k] - '0');
    ++k;
  }
  if (k < s.size() && IsDigitC(s[k])) return 10;  // absurdly long: no date
  return k - pos;
}

int YearOfTwoDigits(int yy) { return yy < 50 ? 2000 + yy : 1900 + yy; }

bool DmyStyle(int style) {
  switch (style % 100) {
    case 3:
    case 4:
    case 5:
    case 6:
    case 13: return true;
    default: return false;
  }
}

bool YmdStyle(int style) {
  switch (style % 100) {
    case 2:
    case 11:
    case 12: return true;
    default: return false;
  }
}

void Append2(std::string& out, int v) {
  out += static_cast<char>('0' + v / 10 % 10);
  out += static_cast<char>('0' + v % 10);
}
void Append3(std::string& out, int v) {
  out += static_cast<char>('0' + v / 100 % 10);
  Append2(out, v % 100);
}
void Append4(std::string& out, int v) {
  Append2(out, v / 100);
  Append2(out, v % 100);
}

}  // namespace

std::string Canonical(const DateTime& dt) {
  std::string out;
  out.reserve(23);
  Append4(out, dt.year);
  out += '-';
  Append2(out, dt.month);
  out += '-';
  Append2(out, dt.day);
  out += ' ';
  Append2(out, dt.hour);
  out += ':';
  Append2(out, dt.minute);
  out += ':';
  Append2(out, dt.second);
  out += '.';
  Append3(out, dt.millis);
  return out;
}

bool ParseCanonical(std::string_view s, DateTime& dt) {
  if (s.size() != 23) return false;
  static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd";
  for (std::size_t i = 0; i < 23; ++i) {
    if (kShape[i] == 'd' ? !IsDigitC(s[i]) : s[i] != kShape[i]) return false;
  }
  auto num = [&](std::size_t pos, std::size_t len) {
    int v = 0;
    for (std::size_t i = 0; i < len; ++i) v = v * 10 + (s[pos + i] - '0');
    return v;
  };
  dt.year = num(0, 4);
  dt.month = num(5, 2);
  dt.day = num(8, 2);
  dt.hour = num(11, 2);
  dt.minute = num(14, 2);
  dt.second = num(17, 2);
  dt.millis = num(20, 3);
  return dt.month >= 1 && dt.month <= 12 && dt.day >= 1 && dt.day <= DaysInMonth(dt.year, dt.month) && dt.hour < 24 &&
         dt.minute < 60 && dt.second < 60;
}

bool RoundToTicks(DateTime& dt) {
  int ticks = (dt.millis * 3 + 5) / 10;  // 1/300 s, rounded half up
  int64_t ms = ToMillis(dt) - dt.millis + (ticks * 1000 + 150) / 300;
  FromMillis(ms, dt);
  return InRange(dt);
}

bool AddDays(DateTime& dt, double days) {
  if (!std::isfinite(days) || std::fabs(days) > 4000000.0) return false;
  int64_t ms = ToMillis(dt) + static_cast<int64_t>(std::llround(days * 86400000.0));
  FromMillis(ms, dt);
  return InRange(dt) && RoundToTicks(dt);
}

bool ParseDateTime(std::string_view text, int style, DateTime& out, Error& err) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  std::string_view s = text.substr(b, e - b);
  DateTime dt;
  err = DateConversionError();
  if (s.empty()) {
    out = dt;
    return true;
  }
  std::size_t pos = 0;
  int v1 = 0;
  std::size_t n1 = Digits(s, 0, v1);
  bool haveDate = false;
  bool dateOutOfRange = false;
  int year = 1900, month = 1, day = 1;
  if (n1 == 0) return false;
  char after = n1 < s.size() ? s[n1] : '\0';
  if ((n1 == 8 || n1 == 6) && (after == '\0' || IsSpace(after) || after == 'T')) {
    // Unseparated ISO: yyyymmdd or yymmdd.
    if (n1 == 8) {
      year = v1 / 10000;
    } else {
      year = YearOfTwoDigits(v1 / 10000);
    }
    month = v1 / 100 % 100;
    day = v1 % 100;
    haveDate = true;
    pos = n1;
  } else if (n1 <= 4 && (after == '-' || after == '/' || after == '.')) {
    char sep = after;
    int v2 = 0, v3 = 0;
    std::size_t n2 = Digits(s, n1 + 1, v2);
    if (n2 == 0 || n2 > 2) return false;
    std::size_t p3 = n1 + 1 + n2;
    if (p3 >= s.size() || s[p3] != sep) return false;
    std::size_t n3 = Digits(s, p3 + 1, v3);
    if (n3 == 0 || n3 > 4) return false;
    pos = p3 + 1 + n3;
    if (n1 == 4) {
      if (n3 > 2) return false;
      year = v1;
      month = v2;
      day = v3;
    } else {
      if (n1 > 2) return false;
      int yearField = 0, yearLen = 0;
      if (YmdStyle(style)) {
        yearField = v1;
        yearLen = static_cast<int>(n1);
        month = v2;
        day = v3;
        if (n3 > 2) return false;
      } else {
        if (n3 == 3) return false;
        yearField = v3;
        yearLen = static_cast<int>(n3);
        if (DmyStyle(style)) {
          day = v1;
          month = v2;
        } else {
          month = v1;
          day = v2;
        }
      }
      year = yearLen <= 2 ? YearOfTwoDigits(yearField) : yearField;
    }
    haveDate = true;
  } else if (after == ':') {
    pos = 0;  // a time alone, on 1900-01-01
  } else {
    return false;
  }
  if (haveDate) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || year < 1753 || year > 9999) {
      dateOutOfRange = true;
    }
  }
  int hour = 0, minute = 0, second = 0, millis = 0;
  if (pos < s.size()) {
    if (haveDate) {
      if (s[pos] == 'T') {
        ++pos;
      } else if (IsSpace(s[pos])) {
        while (pos < s.size() && IsSpace(s[pos])) ++pos;
      } else {
        return false;
      }
    }
    std::size_t nh = Digits(s, pos, hour);
    if (nh == 0 || nh > 2) return false;
    pos += nh;
    if (pos >= s.size() || s[pos] != ':') return false;
    std::size_t nm = Digits(s, pos + 1, minute);
    if (nm == 0 || nm > 2) return false;
    pos += 1 + nm;
    if (pos < s.size() && s[pos] == ':') {
      std::size_t ns = Digits(s, pos + 1, second);
      if (ns == 0 || ns > 2) return false;
      pos += 1 + ns;
      if (pos < s.size() && (s[pos] == '.' || s[pos] == ':')) {
        bool fraction = s[pos] == '.';
        int f = 0;
        std::size_t nf = Digits(s, pos + 1, f);
        if (nf > 3 || (nf == 0 && !fraction)) return false;
        if (fraction) {
          millis = nf == 0 ? 0 : nf == 1 ? f * 100 : nf == 2 ? f * 10 : f;
        } else {
          millis = f;
        }
        pos += 1 + nf;
      }
    }
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    if (pos < s.size()) {
      std::string_view ampm = s.substr(pos);
      bool pm = ampm == "PM" || ampm == "pm" || ampm == "Pm" || ampm == "pM";
      bool am = ampm == "AM" || ampm == "am" || ampm == "Am" || ampm == "aM";
      if (!pm && !am) return false;
      if (hour < 1 || hour > 12) return false;
      if (am && hour == 12) hour = 0;
      if (pm && hour != 12) hour += 12;
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
  }
  if (dateOutOfRange) {
    err = DateRangeError();
    return false;
  }
  dt.year = year;
  dt.month = month;
  dt.day = day;
  dt.hour = hour;
  dt.minute = minute;
  dt.second = second;
  dt.millis = millis;
  if (!RoundToTicks(dt)) {
    err = DateRangeError();
    return false;
  }
  out = dt;
  return true;
}

bool FormatDateTime(const DateTime& dt, int style, std::string& out, Error& err) {
  out.clear();
  const bool century = style >= 100 || style == 0 || style == 9 || style == 13 || style == 14 || style == 20 ||
                       style == 21 || style == 23 || style == 126;
  auto yearText = [&]() {
    if (century) {
      Append4(out, dt.year);
    } else {
      Append2(out, dt.year % 100);
    }
  };
  auto hms = [&](bool withMillis, char millisSep) {
    Append2(out, dt.hour);
    out += ':';
    Append2(out, dt.minute);
    out += ':';
    Append2(out, dt.second);
    if (withMillis) {
      out += millisSep;
      Append3(out, dt.millis);
    }
  };
  auto twelveHour = [&](bool withSeconds) {
    int h = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%2d", h);
    out += buf;
    out += ':';
    Append2(out, dt.minute);
    if (withSeconds) {
      out += ':';
      Append2(out, dt.second);
      out += ':';
      Append3(out, dt.millis);
    }
    out += dt.hour < 12 ? "AM" : "PM";
  };
  auto monDdYyyy = [&]() {
    char buf[8];
    out += kMonths[dt.month - 1];
    std::snprintf(buf, sizeof buf, " %2d ", dt.day);
    out += buf;
    Append4(out, dt.year);
    out += ' ';
  };
  switch (style) {
    case 0:
    case 100:
      monDdYyyy();
      twelveHour(false);
      return true;
    case 9:
    case 109:
      monDdYyyy();
      twelveHour(true);
      return true;
    case 1:
    case 101:
      Append2(out, dt.month);
      out += '/';
      Append2(out, dt.day);
      out += '/';
      yearText();
      return true;
    case 2:
    case 102:
      yearText();
      out += '.';
      Append2(out, dt.month);
      out += '.';
      Append2(out, dt.day);
      return true;
    case 3:
    case 103:
      Append2(out, dt.day);
      out += '/';
      Append2(out, dt.month);
      out += '/';
      yearText();
      return true;
    case 4:
    case 104:
      Append2(out, dt.day);
      out += '.';
      Append2(out, dt.month);
      out += '.';
      yearText();
      return true;
    case 5:
    case 105:
      Append2(out, dt.day);
      out += '-';
      Append2(out, dt.month);
      out += '-';
      yearText();
      return true;
    case 6:
    case 106:
      Append2(out, dt.day);
      out += ' ';
      out += kMonths[dt.month - 1];
      out += ' ';
      yearText();
      return true;
    case 7:
    case 107:
      out += kMonths[dt.month - 1];
      out += ' ';
      Append2(out, dt.day);
      out += ", ";
      yearText();
      return true;
    case 8:
    case 108: hms(false, ':'); return true;
    case 10:
    case 110:
      Append2(out, dt.month);
      out += '-';
      Append2(out, dt.day);
      out += '-';
      yearText();
      return true;
    case 11:
    case 111:
      yearText();
      out += '/';
      Append2(out, dt.month);
      out += '/';
      Append2(out, dt.day);
      return true;
    case 12:
    case 112:
      yearText();
      Append2(out, dt.month);
      Append2(out, dt.day);
      return true;
    case 13:
    case 113:
      Append2(out, dt.day);
      out += ' ';
      out += kMonths[dt.month - 1];
      out += ' ';
      Append4(out, dt.year);
      out += ' ';
      hms(true, ':');
      return true;
    case 14:
    case 114: hms(true, ':'); return true;
    case 20:
    case 120:
    case 21:
    case 121:
    case 23:
    case 126:
      Append4(out, dt.year);
      out += '-';
      Append2(out, dt.month);
      out += '-';
      Append2(out, dt.day);
      if (style == 23) return true;
      out += style == 126 ? 'T' : ' ';
      hms(style == 21 || style == 121 || (style == 126 && dt.millis != 0), '.');
      return true;
    default:
      err = MakeError(
          281, "42000",
          std::to_string(style) + " is not a valid style number when converting from datetime to a character string.");
      return false;
  }
}

// ---- text -----------------------------------------------------------------

namespace {

std::size_t SequenceLength(std::string_view s, std::size_t i);

// The byte at `i` of `s` as the collation sees it: ASCII letters upper-cased;
// in UTF-8 the second byte of a Latin-1 small letter (C3 A0..BE but the
// division sign) turned into its capital's; a byte of a single-byte code
// page text (Windows-1252, as files of the upstream system may be) that is
// a small letter and no part of a UTF-8 sequence turned into its capital.
inline unsigned char Fold(std::string_view s, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
  if (c >= 0xA0 && c <= 0xBE && c != 0xB7 && i > 0 && static_cast<unsigned char>(s[i - 1]) == 0xC3 &&
      SequenceLength(s, i - 1) == 2) {
    return static_cast<unsigned char>(c - 0x20);
  }
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7 && SequenceLength(s, i) == 1) return static_cast<unsigned char>(c - 0x20);
  return c;
}

std::size_t SequenceLength(std::string_view s, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t len = c < 0x80                   ? 1
                    : (c >= 0xC2 && c <= 0xDF) ? 2
                    : (c >= 0xE0 && c <= 0xEF) ? 3
                    : (c >= 0xF0 && c <= 0xF4) ? 4
                                               : 1;
  if (len == 1 || i + len > s.size()) return 1;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  a = RTrimText(a);
  b = RTrimText(b);
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    // An ASCII byte folds the same wherever it stands; equal ones need no
    // folding (the keys of an index lookup mostly agree for long stretches).
    if (a[i] == b[i] && static_cast<unsigned char>(a[i]) < 0x80) continue;
    unsigned char x = Fold(a, i), y = Fold(b, i);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::size_t CharCount(std::string_view s) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < s.size(); i += SequenceLength(s, i)) ++count;
  return count;
}

std::string_view CharPrefix(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < n && i < s.size(); ++k) i += SequenceLength(s, i);
  return s.substr(0, i);
}

std::string_view RTrimText(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return s.substr(0, e);
}

std::string_view LTrimText(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  return s.substr(b);
}

std::string UpperText(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(Fold(s, i));
  return out;
}

std::string LowerText(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    // An ASCII capital, a capital of Latin-1 in UTF-8 (C3 80..9E but not
    // the sign ×), or one in Windows-1252 (C0..DE but not ×): its small
    // letter lies 0x20 above it.
    bool capital = (c >= 'A' && c <= 'Z') ||
                   (c >= 0x80 && c <= 0x9E && c != 0x97 && i > 0 && static_cast<unsigned char>(s[i - 1]) == 0xC3 &&
                    SequenceLength(s, i - 1) == 2) ||
                   (c >= 0xC0 && c <= 0xDE && c != 0xD7 && SequenceLength(s, i) == 1);
    if (capital) out[i] = static_cast<char>(c + 0x20);
  }
  return out;
}

std::string FitText(std::string_view s, long n, bool pad) {
  if (n < 0) return std::string(s);
  std::string out(CharPrefix(s, static_cast<std::size_t>(n)));
  if (pad) {
    std::size_t have = CharCount(out);
    if (have < static_cast<std::size_t>(n)) out.append(static_cast<std::size_t>(n) - have, ' ');
  }
  return out;
}

bool StoreText(std::string_view s, long n, bool pad, std::string& out, Error& err) {
  if (n >= 0) {
    std::string_view head = CharPrefix(s, static_cast<std::size_t>(n));
    for (std::size_t i = head.size(); i < s.size(); ++i) {
      if (s[i] != ' ') {
        err = TruncationError();
        return false;
      }
    }
  }
  out = FitText(s, n, pad);
  return true;
}

// ---- integers ---------------------------------------------------------------

const char* IntKindName(IntKind k) {
  switch (k) {
    case IntKind::Int: return "int";
    case IntKind::SmallInt: return "smallint";
    case IntKind::BigInt: return "bigint";
    case IntKind::TinyInt: return "tinyint";
    case IntKind::Bit: return "bit";
  }
  return "int";
}

bool FitInt(int64_t v, IntKind kind, int64_t& out, Error& err) {
  int64_t lo = INT64_MIN, hi = INT64_MAX;
  switch (kind) {
    case IntKind::Int:
      lo = -2147483648LL;
      hi = 2147483647LL;
      break;
    case IntKind::SmallInt:
      lo = -32768;
      hi = 32767;
      break;
    case IntKind::TinyInt:
      lo = 0;
      hi = 255;
      break;
    case IntKind::BigInt: break;
    case IntKind::Bit: out = v != 0 ? 1 : 0; return true;
  }
  if (v < lo || v > hi) {
    err = MakeError(
        8115, "22003",
        std::string("Arithmetic overflow error converting expression to data type ") + IntKindName(kind) + ".");
    return false;
  }
  out = v;
  return true;
}

bool ParseInt(std::string_view text, IntKind kind, int64_t& out, Error& err) {
  std::string_view s = RTrimText(LTrimText(text));
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  uint64_t value = 0;
  bool overflow = false;
  if (i == s.size() && i > 1) {
    err = IntConversionError(text, IntKindName(kind));
    return false;
  }
  for (; i < s.size(); ++i) {
    if (!IsDigitC(s[i])) {
      err = IntConversionError(text, IntKindName(kind));
      return false;
    }
    if (value > (UINT64_MAX - 9) / 10) overflow = true;
    if (!overflow) value = value * 10 + static_cast<uint64_t>(s[i] - '0');
  }
  int64_t v = 0;
  if (!overflow && value <= static_cast<uint64_t>(INT64_MAX)) {
    v = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  } else if (!overflow && negative && value == static_cast<uint64_t>(INT64_MAX) + 1) {
    v = INT64_MIN;
  } else {
    overflow = true;
  }
  Error fit;
  if (overflow || !FitInt(v, kind, out, fit)) {
    const char* name = IntKindName(kind);
    err = MakeError(248, "22003",
                    "The conversion of the varchar value '" + std::string(text) + "' overflowed " +
                        (name[0] == 'i' ? "an " : "a ") + name + " column.");
    return false;
  }
  return true;
}

}  // namespace tsql
