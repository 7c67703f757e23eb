// The statement pattern: handle, SQLExecDirect, result mapping.
#include "db/statement.h"

#include <sqlext.h>

#include <cassert>
#include <charconv>
#include <cstring>

#include "db/connection.h"
#include "db/driver_counts.h"

namespace {

// A statement handle on hdbc, freed on every path.
class StatementHandle {
 public:
  StatementHandle() {
    if (SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &h_) == SQL_ERROR) {
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

// The native error of the failed statement, or -1 without one.
int Failure(SQLHSTMT h) {
  dbGetDiag(SQL_HANDLE_STMT, h, DiagRec);
  return DiagRec.NativeError != 0 ? DiagRec.NativeError : -1;
}

// A failed statement without a native error number is logged as -1 alone,
// which says nothing of a timeout (HYT00) or a lost connection (08S01):
// the driver's diagnostic goes beside it, in the line a failed connect adds.
int LoggedFailure(SQLHSTMT h) {
  const int rc = Failure(h);
  if (DiagRec.NativeError == 0 && !DiagRec.SqlState.empty()) dbLogDiag(DiagRec);
  return rc;
}

// Adds the rows the driver reported for a statement of `kind` to the
// attempt's counts (rows < 0: the driver reported none, and the sum is no
// longer known).
void CountRows(StatementKind kind, SQLLEN rows) {
  long* count = nullptr;
  if (kind == StatementKind::Insert || kind == StatementKind::LenientInsert)
    count = &AttemptCounts.inserted;
  else if (kind == StatementKind::Update)
    count = &AttemptCounts.updated;
  else if (kind == StatementKind::DateSweep || kind == StatementKind::StatusSweep)
    count = &AttemptCounts.deleted;
  if (count == nullptr || *count < 0) return;
  *count = rows < 0 ? -1 : *count + static_cast<long>(rows);
}

// Where statements go instead of ODBC, when set.
StatementSink Sink = nullptr;

}  // namespace

void SetStatementSink(StatementSink sink) { Sink = sink; }

int ExecStatement(StatementKind kind, std::string text) {
  if (Sink != nullptr) return Sink(kind, text);
  // No handle: -1 for every kind. A date-marked sweep once answered 0 here,
  // which reported success with the marked rows left in the table.
  StatementHandle stmt;
  if (!stmt.ok()) return -1;

  SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
  // Nobody examines its result: its -1 means only "no statement handle".
  if (kind == StatementKind::Unchecked) return 0;
  if (rc == SQL_ERROR) return LoggedFailure(stmt.get());
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    SQLLEN rows = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows))) rows = -1;
    CountRows(kind, rows);
    // Some drivers (FreeTDS) answer a searched UPDATE or DELETE that
    // touched no row with success and a row count of 0 even under ODBC 3;
    // that is the same "no row" as SQL_NO_DATA.
    if (TouchesRows(kind) && rows == 0) return SQL_NO_DATA;
    return 0;
  }
  if (rc == SQL_NO_DATA) CountRows(kind, 0);
  if (kind == StatementKind::LenientInsert) return 0;
  return rc;
}

void QuoteEscape(std::string& value) {
  std::size_t at = value.find('\'');
  while (at != std::string::npos) {
    value.insert(at, 1, '\'');
    at = value.find('\'', at + 2);
  }
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

int SQL_GetServerTimestamp(std::string& destination) {
  // The caller logs DiagRec after a failure; nothing older may stand there.
  DiagRec = DiagRecord();
  StatementHandle stmt;
  if (!stmt.ok()) return -1;
  std::string text =
      "SELECT ( CONVERT(char(11), CURRENT_TIMESTAMP, 104) +          "
      "CONVERT(char(8), CURRENT_TIMESTAMP, 114)) ";
  SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
  if (rc == SQL_ERROR) return Failure(stmt.get());
  char value[20] = {0};
  SQLLEN indicator = 0;
  SQLBindCol(stmt.get(), 1, SQL_C_CHAR, value, sizeof value, &indicator);
  SQLRETURN fetched = SQLFetch(stmt.get());
  if (fetched != SQL_SUCCESS && fetched != SQL_SUCCESS_WITH_INFO) {
    if (fetched == SQL_ERROR) dbGetDiag(SQL_HANDLE_STMT, stmt.get(), DiagRec);
    return fetched;
  }
  value[sizeof value - 1] = '\0';
  destination = value;
  return 0;
}
