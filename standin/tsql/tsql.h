// The T-SQL side of the SQL Server stand-in: turns the T-SQL statements the
// tool (and an administrator's DDL file) sends into SQLite statements with
// SQL Server's semantics, and SQLite's failures into SQL Server's errors.
// The front ends (the ODBC driver, the TDS listener, kranzel-standin) call
// only what is declared here; the parts of the translator include it for
// the calls they make to each other, so it declares and includes nothing of
// theirs.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "database.h"
#include "sql_types.h"

namespace tsql {

// The engine's errors and types, which every declaration here speaks.
using standin::ColType;
using standin::ColumnType;
using standin::Error;
using standin::Kind;
using standin::ParseDeclaredType;
using standin::ResolveMessage;

// What Translate makes of a statement.
struct Translation {
  std::string sql;  // one SQLite statement (empty: nothing to run)
  Kind kind = Kind::Other;
};

// Prepares a freshly opened database: registers the collation, the
// functions the translations call, and anything else they rely on.
// Returns false with `err` set on failure.
bool Setup(sqlite3* db, Error& err);

// Translates one T-SQL statement. Returns false with `err` set when the
// statement is not understood (a syntax error: 102) or names an unknown
// table or column (208, 207) that the translation can already tell.
bool Translate(sqlite3* db, const std::string& tsql, Translation& out, Error& err);

// Maps a failed SQLite step/prepare of a translated statement to SQL
// Server's error (constraint violations, conversion failures, ...). With
// `deferMessage`, a duplicate key's message is left `pending`.
Error MapError(sqlite3* db, int rc, const std::string& tsql, bool deferMessage = false);

struct CachedStatement;

// One T-SQL statement translated, prepared and with its values bound,
// ready to step. Released (reset for its next use, or finalized) by
// Release or the destructor.
struct Prepared {
  sqlite3_stmt* stmt = nullptr;  // null: nothing to run (blanks, comments, SET ...)
  Kind kind = Kind::Other;
  std::shared_ptr<CachedStatement> cached;  // the cache entry that owns `stmt`; null: owned here

  Prepared() = default;
  ~Prepared() { Release(); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;
  void Release();
};

// Translates and prepares one T-SQL statement as Translate does, through
// the connection's statement cache: a statement of a shape seen before
// (the same text but for the values of its string literals) reuses the
// cached SQLite statement with its literals bound; the result, errors and
// row counts are those of the translated text. Returns false with `err`
// set when the statement is not understood or cannot be prepared.
bool Prepare(sqlite3* db, const std::string& tsql, Prepared& out, Error& err);

// Finalizes the cached statements of `db`; call it before closing `db`
// (a statement still lent to an execution is finalized when released).
void ClearStatementCache(sqlite3* db);

// Runs a T-SQL DDL script (CREATE SCHEMA / CREATE TABLE / GO separators /
// comments) against `db`. Returns false with `err` set on the first failure.
bool RunScript(sqlite3* db, const std::string& script, Error& err);

// A database opened for T-SQL: the engine's database file with the
// translator set up on it; the translations it keeps prepared are let go
// before it closes. Closed by the destructor.
class Database {
 public:
  Database() = default;
  ~Database() { Close(); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens `path` (created when `create` is set, otherwise it must exist)
  // and sets it up. Returns false with `err` set as SQL Server reports a
  // database it cannot open.
  bool Open(const std::string& path, bool create, Error& err);
  void Close();
  [[nodiscard]] sqlite3* handle() const { return file_.handle(); }

 private:
  standin::DatabaseFile file_;
};

// One executed T-SQL statement. For a query the first row has already been
// stepped (so a failure of the first row is reported by Execute, as SQL
// Server reports it on execution); `stmt` then stays open for fetching.
struct Execution {
  sqlite3_stmt* stmt = nullptr;  // open result set, or null
  Prepared prepared;             // owns `stmt` (a statement of the connection's statement cache, or its own)
  Kind kind = Kind::Other;
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
// message of a duplicate key is left `err.pending` (ResolveMessage builds
// it, before `db` is closed); the native error and SQLSTATE are set at once.
bool Execute(sqlite3* db, const std::string& text, Execution& out, Error& err, bool deferMessage = false);

// Steps the open result set to its next row: 1 a row, 0 the end (the result
// set stays open for its column descriptions), -1 failure with `err` set
// (the result set is closed).
int StepRow(sqlite3* db, Execution& ex, const std::string& text, Error& err);

}  // namespace tsql
