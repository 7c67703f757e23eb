// Statement conventions: every statement runs on a fresh statement handle
// (owned by StatementHandle, freed on every path), formatted into SqlText,
// executed directly, its ODBC result mapped to a statement result:
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
#include <string>
#include <type_traits>

#include "util/format.h"

// The shared statement buffer: holds the statement being executed.
extern std::string SqlText;

// The rows of the variant table: how a kind of statement maps an allocation
// failure and the ODBC results that are neither -1 nor 1.
enum class StatementKind {
  Mark,          // UPDATE that marks every row; 100 when the table is empty
  DateSweep,     // DELETE of date-marked rows; allocation failure gives -1
  StatusSweep,   // DELETE of status-marked rows
  Update,        // UPDATE of an upsert (or a single UPDATE); 100: no row
  LenientInsert, // INSERT of 20P/35P/41P: every result but -1 counts as 0
  Insert,        // INSERT of the other upserts
  Unchecked,     // side-table INSERT whose result nobody examines: 0 once
                 // executed, -1 only when no statement handle could be had
};

// Executes `text` as a statement of `kind` and returns its statement result.
// "No row touched" is 100 whether the driver says SQL_NO_DATA or succeeds
// with a row count of 0 (FreeTDS does the latter even under ODBC 3).
int ExecStatement(StatementKind kind, std::string text);

// Doubles every apostrophe of `value` in place.
void QuoteEscape(std::string& value);

namespace sqlfmt {
// Arguments of a statement format: text values are escaped with QuoteEscape,
// as every '%s' of a statement stands between apostrophes.
inline std::string Arg(std::string value) {
  QuoteEscape(value);
  return value;
}
inline std::string Arg(const char* value) { return Arg(std::string(value)); }
template <typename T>
  requires std::is_arithmetic_v<T>
T Arg(T value) { return value; }

inline const char* Pass(const std::string& s) { return s.c_str(); }
template <typename T>
  requires std::is_arithmetic_v<T>
T Pass(T value) { return value; }

template <typename... Args>
std::string FormatEscaped(const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return std::string(format);
  } else {
    // The escaped copies live until the formatting is done.
    auto render = [&](const auto&... escaped) { return util::Format(format, Pass(escaped)...); };
    return render(Arg(args)...);
  }
}
}  // namespace sqlfmt

// Formats a statement from its printf format, escaping every text value,
// and executes it as a statement of `kind`.
template <typename... Args>
int ExecFormatted(StatementKind kind, const char* format, const Args&... args) {
  return ExecStatement(kind, sqlfmt::FormatEscaped(format, args...));
}

// Reads the server's date and time, "dd.mm.yyyy hh:mm:ss", into
// `destination` (left unchanged on failure). Returns a statement result.
int SQL_GetServerTimestamp(std::string& destination);
