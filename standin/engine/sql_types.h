// SQL Server's errors and the kinds of statements and column types, as every
// part of the stand-in speaks them: the translator produces them, the ODBC
// driver and the TDS listener hand them to their clients.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace standin {

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

// The SQL Server types a table column of the stand-in can have.
enum class ColType { Char, VarChar, NChar, NVarChar, Int, SmallInt, BigInt, TinyInt, Bit, DateTime, Other };

struct ColumnType {
  ColType type = ColType::Other;
  long length = -1;  // characters of a text type; -1: max (or no text type)
};

// A column's SQL Server type from its declared type in the database, as the
// translator writes it (varchar(10), char(11), varchar for varchar(max),
// int, datetime, ...). The catalog and the column descriptions of the
// driver and the listener all read it here.
ColumnType ParseDeclaredType(std::string_view decl);

}  // namespace standin
