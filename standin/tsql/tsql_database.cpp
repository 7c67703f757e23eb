// A database opened for T-SQL and one T-SQL statement run on it: the
// translation prepared (through the statement cache), stepped, and its
// failures mapped to SQL Server's errors.
#include <sqlite3.h>

#include <string>

#include "tsql.h"

namespace tsql {

bool Database::Open(const std::string& path, bool create, Error& err) {
  Close();
  if (!file_.Open(path, create, err)) return false;
  if (!Setup(file_.handle(), err)) {
    Close();
    return false;
  }
  return true;
}

void Database::Close() {
  // The cached statements would keep the connection open.
  if (file_.handle() != nullptr) ClearStatementCache(file_.handle());
  file_.Close();
}

void Execution::Reset() {
  prepared.Release();
  stmt = nullptr;
  rowPending = false;
  done = false;
  rowCount = -1;
  kind = Kind::Other;
}

bool Execute(sqlite3* db, const std::string& text, Execution& out, Error& err, bool deferMessage) {
  out.Reset();
  if (!Prepare(db, text, out.prepared, err)) return false;
  out.kind = out.prepared.kind;
  sqlite3_stmt* stmt = out.prepared.stmt;
  if (stmt == nullptr) return true;  // nothing to run
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW || (rc == SQLITE_DONE && sqlite3_column_count(stmt) > 0)) {
    // A result set (possibly empty): keep it open for fetching and
    // describing its columns.
    out.stmt = stmt;
    out.rowPending = rc == SQLITE_ROW;
    out.done = rc == SQLITE_DONE;
    return true;
  }
  if (rc != SQLITE_DONE) {
    err = MapError(db, rc, text, deferMessage);
    out.Reset();
    return false;
  }
  Kind kind = out.kind;
  if (kind == Kind::Insert || kind == Kind::Update || kind == Kind::Delete) {
    out.rowCount = sqlite3_changes(db);
  }
  long long rows = out.rowCount;
  out.Reset();
  out.kind = kind;
  out.rowCount = rows;
  return true;
}

int StepRow(sqlite3* db, Execution& ex, const std::string& text, Error& err) {
  if (ex.stmt == nullptr || ex.done) return 0;
  if (ex.rowPending) {
    ex.rowPending = false;
    return 1;
  }
  // Stepping a finished statement would run it again; `done` guards that.
  int rc = sqlite3_step(ex.stmt);
  if (rc == SQLITE_ROW) return 1;
  if (rc == SQLITE_DONE) {
    ex.done = true;
    return 0;
  }
  err = MapError(db, rc, text);
  ex.prepared.Release();
  ex.stmt = nullptr;
  return -1;
}

}  // namespace tsql
