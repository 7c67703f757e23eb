// The T-SQL side of the SQL Server stand-in: turns the T-SQL statements the
// tool (and an administrator's DDL file) sends into SQLite statements with
// SQL Server's semantics, and SQLite's failures into SQL Server's errors.
// The ODBC side (standin driver) calls only what is declared here.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tsql {

// An error as SQL Server reports it.
struct Error {
  int native = 0;        // e.g. 102, 207, 208, 241, 242, 245, 515, 2627, 8152
  std::string sqlstate;  // e.g. "42000", "42S22", "42S02", "22007", "22008", "22018", "23000", "22001"
  std::string message;   // SQL Server's message text, e.g. "Invalid column name 'TswAmp'."
  // Set instead of `message` when the text costs work that nobody may ask
  // for (the duplicate-key message reads the statement's key values back):
  // ResolveMessage fills `message` from it. It uses the database the error
  // came from, so it must run before that database is closed.
  std::function<std::string()> pending;
};

// Fills `e.message` from `e.pending`, if set.
void ResolveMessage(Error& e);

// What a translated statement is.
enum class Kind { Select, Insert, Update, Delete, Ddl, Other };

struct Translation {
  std::string sql;  // one SQLite statement (empty: nothing to run)
  Kind kind = Kind::Other;
};

// The SQL Server types a table column of the stand-in can have.
enum class ColType { Char, VarChar, NChar, NVarChar, Int, SmallInt, BigInt, TinyInt, Bit, DateTime, Other };

struct ColumnType {
  ColType type = ColType::Other;
  long length = -1;  // characters of a text type; -1: max (or no text type)
};

// A column's SQL Server type from its declared type in the database, as the
// translator writes it (varchar(10), char(11), varchar for varchar(max),
// int, datetime, ...). The catalog and the driver's column descriptions
// both read it here.
ColumnType ParseDeclaredType(std::string_view decl);

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

}  // namespace tsql
