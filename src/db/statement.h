// Statement conventions: every statement runs on a fresh statement handle
// (owned by StatementHandle, freed on every path), formatted from its
// printf format (checked against its arguments when compiled, plain
// conversions only, every text's apostrophes doubled), executed directly,
// its ODBC result turned into a StatementResult:
//   Done    success (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO)
//   NoRow   a searched UPDATE or DELETE touched no row
//   Error   a failed statement (with the database's native error number, or
//           0 without one), no statement handle, or another ODBC result
// (see StatementKind for the exceptions). Where a message names a result,
// LoggedNumber gives the number it always named: 0, 100, the native error,
// -1.
#pragma once

#ifdef _WIN32
#include <windows.h>  // the Windows ODBC headers need its types first
#endif
#include <sql.h>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "util/format.h"

namespace db {

class Session;

// The rows of the variant table: how a kind of statement maps an allocation
// failure and the ODBC results other than SQL_ERROR and success.
enum class StatementKind {
  Mark,           // UPDATE that marks every row; NoRow when the table is empty
  DateSweep,      // DELETE of date-marked rows; allocation failure is an Error
  StatusSweep,    // DELETE of status-marked rows
  Update,         // UPDATE of an upsert (or a single UPDATE); NoRow: no row
  LenientInsert,  // INSERT of 20P/35P/41P: every result but SQL_ERROR is Done
  Insert,         // INSERT of the other upserts
  Unchecked,      // side-table INSERT whose result nobody examines: Done once
                  // executed, Error only when no statement handle could be had
};

// A diagnostic record as the driver gave it.
struct DiagRecord {
  std::string SqlState;
  std::string Message;
  std::int32_t NativeError = 0;
};

// What became of one statement.
struct StatementResult {
  enum class Kind { Done, NoRow, Error };
  Kind kind = Kind::Done;
  // Error: the database's native error number; 0 without one.
  std::int32_t native = 0;
  // Error: the ODBC result behind it; SQL_ERROR also stands for "no
  // statement handle".
  int odbcReturn = SQL_ERROR;
  // Done: the rows the driver reported, -1 when it gave no count.
  long rows = -1;
  // Error: the driver's diagnostic (empty when it gave none).
  DiagRecord diag;

  [[nodiscard]] bool done() const { return kind == Kind::Done; }
  [[nodiscard]] bool noRow() const { return kind == Kind::NoRow; }
  [[nodiscard]] bool failed(std::int32_t nativeError) const {
    return kind == Kind::Error && native == nativeError;
  }

  [[nodiscard]] static StatementResult Done(long rows = -1) {
    StatementResult r;
    r.rows = rows;
    return r;
  }
  [[nodiscard]] static StatementResult NoRow() {
    StatementResult r;
    r.kind = Kind::NoRow;
    return r;
  }
  [[nodiscard]] static StatementResult Error(std::int32_t native = 0, DiagRecord diag = {}) {
    StatementResult r;
    r.kind = Kind::Error;
    r.native = native;
    r.diag = std::move(diag);
    return r;
  }
};

// The number a message names for `result`: 0 done, 100 no row, the native
// error number, or else the ODBC result (-1 for SQL_ERROR and for no
// statement handle).
[[nodiscard]] long LoggedNumber(const StatementResult& result);

// Runs statement texts. The session's own executor sends them through ODBC;
// a capture takes the database's place.
class StatementExecutor {
 public:
  virtual ~StatementExecutor() = default;
  // Executes `text` as a statement of `kind`.
  virtual StatementResult Execute(StatementKind kind, std::string text) = 0;
};

// The capture: it receives every statement text the importer would send,
// exactly as it would be sent, and returns the result the importer is to
// see. It answers for the driver and the result mapping both, so for an
// upsert it answers NoRow to the UPDATE when the INSERT is wanted too. The
// companion programs and the fuzz targets capture statements through it
// without a connection. The server-timestamp query is not routed through it.
class CaptureExecutor final : public StatementExecutor {
 public:
  using Answer = std::function<StatementResult(StatementKind kind, const std::string& text)>;
  explicit CaptureExecutor(Answer answer) : answer_(std::move(answer)) {}
  StatementResult Execute(StatementKind kind, std::string text) override {
    return answer_(kind, text);
  }

 private:
  Answer answer_;
};

// Executes `text` as a statement of `kind` through the session's executor.
// "No row touched" is NoRow whether the driver says SQL_NO_DATA or succeeds
// with a row count of 0 (FreeTDS does the latter even under ODBC 3).
[[nodiscard]] StatementResult ExecStatement(Session& session, StatementKind kind, std::string text);

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
// every apostrophe of every text doubled first (every '%s' of a statement
// stands between apostrophes). Knows only plain conversions; the caller's format
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
[[nodiscard]] StatementResult ExecFormatted(Session& session, StatementKind kind,
                                            util::PlainFormatString<Args...> format,
                                            const Args&... args) {
  return ExecStatement(session, kind, sqlfmt::FormatEscaped<Args...>(format, args...));
}

// Reads the server's date and time, "dd.mm.yyyy hh:mm:ss", into
// `destination` (left unchanged on failure) over the session's connection.
// After a failure the session's diag holds the driver's diagnostic (or is
// empty); a fetch that found no row is NoRow.
[[nodiscard]] StatementResult SQL_GetServerTimestamp(Session& session, std::string& destination);

}  // namespace db
