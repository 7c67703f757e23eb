// Statement conventions: every statement runs on a fresh statement handle
// (owned by StatementHandle, freed on every path), formatted from its
// printf format (checked against its arguments when compiled, plain
// conversions only), executed
// directly, its ODBC result mapped to a statement result:
//   0     success (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO)
//   100   a searched UPDATE or DELETE touched no row
//   n     the database's native error number after a failed statement
//   -1    a failure without native error, or no statement handle
//   other ODBC results are passed on (see StatementKind for the exceptions).
#pragma once

#ifdef _WIN32
#include <windows.h>  // the Windows ODBC headers need its types first
#endif
#include <sql.h>

#include <concepts>
#include <cstring>
#include <string>

#include "util/format.h"

// The rows of the variant table: how a kind of statement maps an allocation
// failure and the ODBC results that are neither -1 nor 1.
enum class StatementKind {
  Mark,           // UPDATE that marks every row; 100 when the table is empty
  DateSweep,      // DELETE of date-marked rows; allocation failure gives -1
  StatusSweep,    // DELETE of status-marked rows
  Update,         // UPDATE of an upsert (or a single UPDATE); 100: no row
  LenientInsert,  // INSERT of 20P/35P/41P: every result but -1 counts as 0
  Insert,         // INSERT of the other upserts
  Unchecked,      // side-table INSERT whose result nobody examines: 0 once
                  // executed, -1 only when no statement handle could be had
};

// Executes `text` as a statement of `kind` and returns its statement result.
// "No row touched" is 100 whether the driver says SQL_NO_DATA or succeeds
// with a row count of 0 (FreeTDS does the latter even under ODBC 3).
// With a statement sink set, the text goes to the sink instead.
int ExecStatement(StatementKind kind, std::string text);

// A statement sink takes the place of the database: it receives every
// statement text ExecStatement would send, exactly as it would be sent, and
// returns the statement result the importer is to see (0, 100, a native
// error number, -1). It answers for the driver and the result mapping both,
// so for an upsert it answers 100 to the UPDATE when the INSERT is wanted
// too. The companion programs and the fuzz targets capture statements
// through it without a connection.
using StatementSink = int (*)(StatementKind kind, const std::string& text);

// Sets the process-wide statement sink; nullptr sends statements through
// ODBC again. The server-timestamp query is not routed through it.
void SetStatementSink(StatementSink sink);

// Doubles every apostrophe of `value` in place.
void QuoteEscape(std::string& value);

namespace sqlfmt {
// One argument of a statement format as the formatter takes it: a text, up
// to its first NUL as printf's %s sees it, or a number.
struct Value {
  const char* text = nullptr;  // nullptr: a number
  std::size_t size = 0;
  long long number = 0;
};
inline Value Of(const std::string& value) {
  const std::size_t nul = value.find('\0');
  return {value.data(), nul != std::string::npos ? nul : value.size()};
}
inline Value Of(const char* value) { return {value, std::strlen(value)}; }
template <std::integral T>
Value Of(T value) {
  return {nullptr, 0, static_cast<long long>(value)};
}

// Formats `format` with `values` into one string, as snprintf would with
// every text escaped by QuoteEscape first (every '%s' of a statement stands
// between apostrophes). Knows only plain conversions; the caller's format
// was matched with the values when it was compiled.
std::string Render(const char* format, const Value* values, std::size_t count);

template <typename... Args>
std::string FormatEscaped(util::PlainFormatString<Args...> format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return std::string(format.text());
  } else {
    const Value values[] = {Of(args)...};
    return Render(format.text(), values, sizeof...(Args));
  }
}
}  // namespace sqlfmt

// Formats a statement from its format, escaping every text value, and
// executes it as a statement of `kind`. The format is checked against the
// arguments when compiled, and may use only plain conversions.
template <typename... Args>
int ExecFormatted(StatementKind kind, util::PlainFormatString<Args...> format,
                  const Args&... args) {
  return ExecStatement(kind, sqlfmt::FormatEscaped<Args...>(format, args...));
}

// Reads the server's date and time, "dd.mm.yyyy hh:mm:ss", into
// `destination` (left unchanged on failure). Returns a statement result;
// after a failure DiagRec holds the driver's diagnostic (or is empty).
int SQL_GetServerTimestamp(std::string& destination);
