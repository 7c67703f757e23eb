// What the translator knows of a database: its schemas, tables, columns with
// their SQL Server types, keys and indexes, read from SQLite's own schema
// and cached per connection until DDL (or a miss) makes it stale.
//
// A T-SQL table SCHEMA.NAME is the SQLite table "SCHEMA.NAME"; its columns
// keep their T-SQL names and their SQL Server type as declared type
// (varchar(10), char(11), int, datetime, ...); text columns carry the
// collation TSQL. An index NAME on SCHEMA.TABLE is "SCHEMA.TABLE.NAME".
// Schemas made by CREATE SCHEMA are rows of the table "sys.schemas".
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sql_types.h"

namespace tsql {

using standin::ColType;
using standin::Error;

struct ColumnInfo {
  std::string name;  // as declared
  ColType type = ColType::Other;
  long length = -1;  // characters of a text type; -1: max (or no text type)
  bool notNull = false;
  bool hasDefault = false;
  bool collated = false;  // compares with the collation TSQL

  [[nodiscard]] bool IsText() const {
    return type == ColType::Char || type == ColType::VarChar || type == ColType::NChar || type == ColType::NVarChar;
  }
  [[nodiscard]] bool Padded() const { return type == ColType::Char || type == ColType::NChar; }
  [[nodiscard]] bool IsInt() const {
    return type == ColType::Int || type == ColType::SmallInt || type == ColType::BigInt || type == ColType::TinyInt ||
           type == ColType::Bit;
  }
};

struct KeyInfo {
  enum class Kind { PrimaryKey, UniqueConstraint, UniqueIndex };
  Kind kind = Kind::PrimaryKey;
  std::string name;       // constraint or index name as SQL Server shows it
  std::vector<int> cols;  // column positions
};

struct TableInfo {
  std::string schema;      // as declared
  std::string name;        // as declared
  std::string sqliteName;  // "schema.name"
  std::vector<ColumnInfo> cols;
  std::unordered_map<std::string, int> byName;  // upper-case name -> position
  std::vector<KeyInfo> keys;                    // primary key first, if any
  std::vector<std::string> indexes;             // upper-case names of its indexes

  std::string Display() const { return schema + "." + name; }
  // Position of the column `name` (any letter case), -1 when there is none.
  int Find(std::string_view name) const;
  const KeyInfo* PrimaryKey() const;
};

class Catalog {
 public:
  // Reads the schema of `db`. False with `err` on a failure of SQLite.
  bool Load(sqlite3* db, Error& err);

  // The table SCHEMA.NAME (any letter case). An empty schema means the
  // default schema dbo, or else the one table of that name in any schema.
  const TableInfo* FindTable(std::string_view schema, std::string_view name) const;
  // The schema's name as created, empty when it does not exist.
  std::string FindSchema(std::string_view schema) const;
  bool HasSchemaTable() const { return hasSchemaTable_; }

 private:
  std::unordered_map<std::string, TableInfo> tables_;     // "SCHEMA.NAME" upper case
  std::unordered_map<std::string, std::string> schemas_;  // upper case -> as created
  bool hasSchemaTable_ = false;
};

// SQL Server's name for an unnamed constraint, e.g. PK__MGSST20P__1A2B3C4D5E6F7A8B.
std::string DefaultConstraintName(const char* prefix, std::string_view schema, std::string_view table);

// SQL Server's error for the last failure of SQLite on `db`.
Error MakeErrorFromSqlite(sqlite3* db);

// Quotes a SQLite identifier: "name" with inner quotes doubled.
std::string QuoteId(std::string_view name);

}  // namespace tsql
