// Values with SQL Server's semantics, shared by the translator (which folds
// constant expressions) and the SQLite functions the translations call:
// datetime parsing and formatting in the CONVERT styles, the default
// collation's text comparison, integer conversion, and SQL Server's errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sql_types.h"

namespace tsql {

using standin::Error;

// ---- errors ---------------------------------------------------------------

Error MakeError(int native, const std::string& sqlstate, const std::string& message);
Error SyntaxError(std::string_view near);                           // 102
Error InvalidColumn(std::string_view name);                         // 207
Error InvalidObject(std::string_view name);                         // 208
Error DateConversionError();                                        // 241
Error DateRangeError();                                             // 242
Error IntConversionError(std::string_view text, const char* type);  // 245
Error TruncationError();                                            // 8152

// SQLite functions report SQL Server's errors through their message text:
// "TSQL:<native>:<sqlstate>:<message>". MapError unpacks it.
std::string EncodeError(const Error& e);
bool DecodeError(std::string_view text, Error& e);

// ---- datetime ---------------------------------------------------------------

// SQL Server's datetime: 1753-01-01 to 9999-12-31, in steps of 1/300 s.
struct DateTime {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0, millis = 0;
};

// How a datetime is stored in the stand-in: "yyyy-mm-dd hh:mm:ss.mmm", which
// sorts and compares correctly as text.
std::string Canonical(const DateTime& dt);
// Reads the stored form back; false when `text` is not in it.
bool ParseCanonical(std::string_view text, DateTime& dt);

// Converts a character string to datetime as CONVERT(datetime, text, style)
// does (style -1: no style given). Accepts the unseparated ISO forms
// (yyyymmdd, yymmdd, optionally followed by a time), yyyy-mm-dd and the
// like, dd.mm.yyyy and other separated forms in the style's order, times
// alone, and ISO 8601 with 'T'; an empty or blank text is 1900-01-01. A text
// that is no date fails with 241, a date outside the calendar or the range
// with 242. The result is rounded to SQL Server's 1/300 s.
bool ParseDateTime(std::string_view text, int style, DateTime& out, Error& err);

// Rounds the milliseconds to SQL Server's datetime precision (.000, .003,
// .007, ...), carrying into the seconds and beyond; false when the result
// leaves the datetime range.
bool RoundToTicks(DateTime& dt);

// Adds `days` (may be fractional or negative); false when out of range.
bool AddDays(DateTime& dt, double days);

// Formats `dt` in a CONVERT style (0/100, 1/101 ... 14/114, 20/120, 21/121,
// 23, 126); false with error 281 for a style that has no datetime form.
bool FormatDateTime(const DateTime& dt, int style, std::string& out, Error& err);

// ---- text -----------------------------------------------------------------

// The default collation's comparison: letters compared without regard to
// case (ASCII and the Latin-1 letters in UTF-8), trailing blanks ignored.
int CompareText(std::string_view a, std::string_view b);

// The number of characters of a UTF-8 text (a byte that is no valid UTF-8
// sequence counts as one character, as in a single-byte code page).
std::size_t CharCount(std::string_view s);
// The first `n` characters of `s`.
std::string_view CharPrefix(std::string_view s, std::size_t n);
// The text without trailing (RTrimText) or leading (LTrimText) blanks.
std::string_view RTrimText(std::string_view s);
std::string_view LTrimText(std::string_view s);
// Upper or lower case of ASCII and Latin-1 letters.
std::string UpperText(std::string_view s);
std::string LowerText(std::string_view s);

// Converts a value to char(n) (pad) or varchar(n) as CONVERT does: longer
// texts are cut to n characters, char(n) is padded with blanks.
std::string FitText(std::string_view s, long n, bool pad);
// The same for storing into a column: a text whose surplus is not only
// blanks fails with 8152.
bool StoreText(std::string_view s, long n, bool pad, std::string& out, Error& err);

// ---- integers ---------------------------------------------------------------

enum class IntKind { Int, SmallInt, BigInt, TinyInt, Bit };
const char* IntKindName(IntKind k);
// Range check of an integer for the kind (bit: any non-zero value is 1).
bool FitInt(int64_t v, IntKind kind, int64_t& out, Error& err);
// Converts a character string as SQL Server does: blanks around, an
// optional sign and digits; an empty text is 0. Otherwise 245; too large 248.
bool ParseInt(std::string_view text, IntKind kind, int64_t& out, Error& err);

}  // namespace tsql
