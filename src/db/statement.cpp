// The statement pattern: handle, SQLExecDirect, result mapping.
#include "db/statement.h"

#include <sqlext.h>

#include <cassert>
#include <charconv>
#include <cstring>
#include <utility>

#include "db/connection.h"

namespace db {

namespace {

// A statement handle on the session's connection, freed on every path.
class StatementHandle {
 public:
  explicit StatementHandle(const Session& session) {
    if (SQLAllocHandle(SQL_HANDLE_STMT, session.dbc(), &h_) == SQL_ERROR) {
      h_ = SQL_NULL_HSTMT;
      return;
    }
    dbSetQueryTimeout(h_);
  }
  ~StatementHandle() {
    if (h_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_);
  }
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;
  [[nodiscard]] bool ok() const { return h_ != SQL_NULL_HSTMT; }
  [[nodiscard]] SQLHSTMT get() const { return h_; }

 private:
  SQLHSTMT h_ = SQL_NULL_HSTMT;
};

bool TouchesRows(StatementKind kind) {
  return kind == StatementKind::Mark || kind == StatementKind::DateSweep ||
         kind == StatementKind::StatusSweep || kind == StatementKind::Update;
}

// The failed statement with its native error (0 without one) and the
// driver's diagnostic, which the session keeps as its last.
StatementResult Failure(Session& session, SQLHSTMT h) {
  dbGetDiag(session, SQL_HANDLE_STMT, h, session.diag);
  return StatementResult::Error(session.diag.NativeError, session.diag);
}

// A failed statement without a native error number is logged as -1 alone,
// which says nothing of a timeout (HYT00) or a lost connection (08S01):
// the driver's diagnostic goes beside it, in the line a failed connect adds.
StatementResult LoggedFailure(Session& session, SQLHSTMT h) {
  StatementResult result = Failure(session, h);
  if (result.native == 0 && !result.diag.SqlState.empty()) dbLogDiag(session, result.diag);
  return result;
}

// Adds the rows the driver reported for a statement of `kind` to the
// attempt's counts (rows < 0: the driver reported none, and the sum is no
// longer known).
void CountRows(DriverCounts& counts, StatementKind kind, SQLLEN rows) {
  long* count = nullptr;
  if (kind == StatementKind::Insert || kind == StatementKind::LenientInsert)
    count = &counts.inserted;
  else if (kind == StatementKind::Update)
    count = &counts.updated;
  else if (kind == StatementKind::DateSweep || kind == StatementKind::StatusSweep)
    count = &counts.deleted;
  if (count == nullptr || *count < 0) return;
  *count = rows < 0 ? -1 : *count + static_cast<long>(rows);
}

// Another ODBC result than success, error or no data, passed on as an error
// that names it.
StatementResult Unexpected(SQLRETURN rc) {
  StatementResult result = StatementResult::Error();
  result.odbcReturn = rc;
  return result;
}

}  // namespace

long LoggedNumber(const StatementResult& result) {
  switch (result.kind) {
    case StatementResult::Kind::Done: return 0;
    case StatementResult::Kind::NoRow: return SQL_NO_DATA;
    case StatementResult::Kind::Error: break;
  }
  return result.native != 0 ? result.native : result.odbcReturn;
}

StatementResult ExecStatement(Session& session, StatementKind kind, std::string text) {
  return session.executor().Execute(kind, std::move(text));
}

StatementResult OdbcExecutor::Execute(StatementKind kind, std::string text) {
  // No handle: an error for every kind. A date-marked sweep once answered
  // success here, which reported success with the marked rows left in the
  // table.
  StatementHandle stmt(session_);
  if (!stmt.ok()) return StatementResult::Error();

  SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
  // Nobody examines its result: its error means only "no statement handle".
  if (kind == StatementKind::Unchecked) return StatementResult::Done();
  if (rc == SQL_ERROR) return LoggedFailure(session_, stmt.get());
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    SQLLEN rows = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows))) rows = -1;
    CountRows(session_.counts, kind, rows);
    // Some drivers (FreeTDS) answer a searched UPDATE or DELETE that
    // touched no row with success and a row count of 0 even under ODBC 3;
    // that is the same "no row" as SQL_NO_DATA.
    if (TouchesRows(kind) && rows == 0) return StatementResult::NoRow();
    return StatementResult::Done(static_cast<long>(rows));
  }
  if (rc == SQL_NO_DATA) CountRows(session_.counts, kind, 0);
  if (kind == StatementKind::LenientInsert) return StatementResult::Done();
  if (rc == SQL_NO_DATA) return StatementResult::NoRow();
  return Unexpected(rc);
}

namespace sqlfmt {

namespace {

// Appends `size` characters of `text`, every apostrophe doubled.
void AppendEscaped(std::string& out, const char* text, std::size_t size) {
  const char* end = text + size;
  while (const void* quote = std::memchr(text, '\'', static_cast<std::size_t>(end - text))) {
    const char* at = static_cast<const char*>(quote);
    out.append(text, at + 1);
    out.push_back('\'');
    text = at + 1;
  }
  out.append(text, end);
}

}  // namespace

std::string Render(const char* format, const Value* values, std::size_t count) {
  const std::size_t length = std::strlen(format);
  std::size_t expected = length;
  // A little room for apostrophes; a number takes at most 20 characters.
  for (std::size_t i = 0; i < count; ++i)
    expected += values[i].text != nullptr ? values[i].size + 4 : 20;
  std::string out;
  out.reserve(expected);

  const char* p = format;
  const char* const end = format + length;
  std::size_t next = 0;
  while (const void* percent = std::memchr(p, '%', static_cast<std::size_t>(end - p))) {
    out.append(p, static_cast<const char*>(percent));
    p = static_cast<const char*>(percent) + 1;
    if (*p == '%') {
      out.push_back('%');
      ++p;
      continue;
    }
    // h, l or ll, then s or d/i: the compile-time check let nothing else through.
    const bool half = *p == 'h';
    while (*p == 'h' || *p == 'l') ++p;
    assert(next < count && (*p == 's') == (values[next].text != nullptr));
    const Value& value = values[next++];
    if (*p == 's') {
      AppendEscaped(out, value.text, value.size);
    } else {
      // printf takes the value of %hd back as a short.
      const long long number = half ? static_cast<short>(value.number) : value.number;
      char digits[24];
      const auto written = std::to_chars(digits, digits + sizeof digits, number);
      out.append(digits, written.ptr);
    }
    ++p;
  }
  out.append(p, end);
  return out;
}

}  // namespace sqlfmt

StatementResult SQL_GetServerTimestamp(Session& session, std::string& destination) {
  // The caller logs the session's diag after a failure; nothing older may
  // stand there.
  session.diag = DiagRecord();
  StatementHandle stmt(session);
  if (!stmt.ok()) return StatementResult::Error();
  std::string text =
      "SELECT ( CONVERT(char(11), CURRENT_TIMESTAMP, 104) +          "
      "CONVERT(char(8), CURRENT_TIMESTAMP, 114)) ";
  SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
  if (rc == SQL_ERROR) return Failure(session, stmt.get());
  char value[20] = {0};
  SQLLEN indicator = 0;
  SQLBindCol(stmt.get(), 1, SQL_C_CHAR, value, sizeof value, &indicator);
  SQLRETURN fetched = SQLFetch(stmt.get());
  if (fetched == SQL_NO_DATA) return StatementResult::NoRow();
  if (fetched != SQL_SUCCESS && fetched != SQL_SUCCESS_WITH_INFO) {
    // A failed fetch is named by its ODBC result, not by a native error.
    StatementResult result = Unexpected(fetched);
    if (fetched == SQL_ERROR) {
      dbGetDiag(session, SQL_HANDLE_STMT, stmt.get(), session.diag);
      result.diag = session.diag;
    }
    return result;
  }
  value[sizeof value - 1] = '\0';
  destination = value;
  return StatementResult::Done(1);
}

}  // namespace db
