// The T-SQL side of the SQL Server stand-in: turns the T-SQL statements the
// tool (and an administrator's DDL file) sends into SQLite statements with
// SQL Server's semantics, and SQLite's failures into SQL Server's errors.
// The ODBC side (standin driver) calls only what is declared here.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace tsql {

// An error as SQL Server reports it.
struct Error {
  int native = 0;          // e.g. 102, 207, 208, 241, 242, 245, 515, 2627, 8152
  std::string sqlstate;    // e.g. "42000", "42S22", "42S02", "22007", "22008", "22018", "23000", "22001"
  std::string message;     // SQL Server's message text, e.g. "Invalid column name 'TswAmp'."
};

// What a translated statement is.
enum class Kind { Select, Insert, Update, Delete, Ddl, Other };

struct Translation {
  std::string sql;         // one SQLite statement (empty: nothing to run)
  Kind kind = Kind::Other;
};

// The SQL Server types a table column of the stand-in can have.
enum class ColType { Char, VarChar, NChar, NVarChar, Int, SmallInt, BigInt, TinyInt, Bit, DateTime, Other };

struct ColumnType {
  ColType type = ColType::Other;
  long length = -1;        // characters of a text type; -1: max (or no text type)
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
// Server's error (constraint violations, conversion failures, ...).
Error MapError(sqlite3* db, int rc, const std::string& tsql);

// Runs a T-SQL DDL script (CREATE SCHEMA / CREATE TABLE / GO separators /
// comments) against `db`. Returns false with `err` set on the first failure.
bool RunScript(sqlite3* db, const std::string& script, Error& err);

}  // namespace tsql
