// The engine under the stand-in's ODBC handles and its command-line tool:
// an SQLite database opened the way the stand-in runs it (WAL, busy
// timeout, the T-SQL functions and collation registered), and the execution
// of one T-SQL statement on it.
#pragma once

#include <sqlite3.h>

#include <string>

#include "tsql.h"

namespace standin {

// An open SQLite database; closed by the destructor.
class Database {
 public:
  Database() = default;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens `path` (created when `create` is set, otherwise it must exist)
  // and prepares it for T-SQL. Returns false with `err` set as SQL Server
  // reports a database it cannot open.
  bool Open(const std::string& path, bool create, tsql::Error& err);
  void Close();
  [[nodiscard]] sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// One executed T-SQL statement. For a query the first row has already been
// stepped (so a failure of the first row is reported by Execute, as SQL
// Server reports it on execution); `stmt` then stays open for fetching.
struct Execution {
  sqlite3_stmt* stmt = nullptr;  // open result set, or null
  tsql::Prepared prepared;       // owns `stmt` (a statement of the connection's statement cache, or its own)
  tsql::Kind kind = tsql::Kind::Other;
  bool rowPending = false;  // the current row of `stmt` is not yet fetched
  bool done = false;        // `stmt` has no more rows
  long long rowCount = -1;  // rows touched by INSERT/UPDATE/DELETE, else -1

  Execution() = default;
  ~Execution() { Reset(); }
  Execution(const Execution&) = delete;
  Execution& operator=(const Execution&) = delete;
  // Closes the result set.
  void Reset();
};

// Translates and runs `text` on `db`. Returns false with `err` set when the
// statement fails (nothing stays open then). With `deferMessage`, the
// message of a duplicate key is left `err.pending` (tsql::ResolveMessage
// builds it, before `db` is closed); the native error and SQLSTATE are set
// at once.
bool Execute(sqlite3* db, const std::string& text, Execution& out, tsql::Error& err, bool deferMessage = false);

// Steps the open result set to its next row: 1 a row, 0 the end (the result
// set stays open for its column descriptions), -1 failure with `err` set
// (the result set is closed).
int StepRow(sqlite3* db, Execution& ex, const std::string& text, tsql::Error& err);

}  // namespace standin
