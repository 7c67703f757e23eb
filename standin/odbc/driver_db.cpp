// Opening the stand-in's SQLite database and running one T-SQL statement.
#include "driver_db.h"

namespace standin {

Database::~Database() { Close(); }

void Database::Close() {
  if (db_ != nullptr) {
    // The cached statements would keep the connection open.
    tsql::ClearStatementCache(db_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

bool Database::Open(const std::string& path, bool create, tsql::Error& err) {
  Close();
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (db != nullptr) sqlite3_close_v2(db);
    err.native = 4060;
    err.sqlstate = "42000";
    err.message = "Cannot open database \"" + path + "\" requested by the login. The login failed.";
    return false;
  }
  db_ = db;
  sqlite3_extended_result_codes(db_, 0);
  // Several processes (the tool, a test's checker) may use the file at once:
  // WAL lets readers and the writer proceed, the busy timeout rides out the
  // short write locks. NORMAL synchronisation is durable enough in WAL mode
  // for a test and demo database and keeps a commit cheap.
  sqlite3_busy_timeout(db_, 5000);
  char* msg = nullptr;
  rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    err.native = 4060;
    err.sqlstate = "42000";
    err.message = "Cannot open database \"" + path + "\" requested by the login. The login failed. (" +
                  (msg != nullptr ? msg : sqlite3_errstr(rc)) + ")";
    sqlite3_free(msg);
    Close();
    return false;
  }
  if (!tsql::Setup(db_, err)) {
    Close();
    return false;
  }
  return true;
}

void Execution::Reset() {
  prepared.Release();
  stmt = nullptr;
  rowPending = false;
  done = false;
  rowCount = -1;
  kind = tsql::Kind::Other;
}

bool Execute(sqlite3* db, const std::string& text, Execution& out, tsql::Error& err, bool deferMessage) {
  out.Reset();
  if (!tsql::Prepare(db, text, out.prepared, err)) return false;
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
    err = tsql::MapError(db, rc, text, deferMessage);
    out.Reset();
    return false;
  }
  tsql::Kind kind = out.kind;
  if (kind == tsql::Kind::Insert || kind == tsql::Kind::Update || kind == tsql::Kind::Delete) {
    out.rowCount = sqlite3_changes(db);
  }
  long long rows = out.rowCount;
  out.Reset();
  out.kind = kind;
  out.rowCount = rows;
  return true;
}

int StepRow(sqlite3* db, Execution& ex, const std::string& text, tsql::Error& err) {
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
  err = tsql::MapError(db, rc, text);
  ex.prepared.Release();
  ex.stmt = nullptr;
  return -1;
}

}  // namespace standin
