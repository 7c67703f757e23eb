// The statement cache of one connection (SQL Server's simple
// parameterization): translations whose string literals are parameters,
// prepared once and kept, found again by the statement's shape (its text
// with the string literals taken out). A statement of a known shape skips
// the translator and SQLite's prepare: the cached statement is reset and
// its literals bound. Any change of the catalog clears the cache.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sql_types.h"

namespace tsql {

using standin::Kind;

// A check of a literal's value whose outcome a translation depends on.
struct LiteralCheck {
  enum Kind { Fits, Equals, Trimmed };
  int lit = 0;
  Kind kind = Fits;
  long n = 0;           // Fits: at most n bytes
  std::string other;    // Equals: equal to this text in the default collation
  bool result = false;  // the outcome the translation took
};

// What MapError needs to name the duplicate key of a failed INSERT/UPDATE.
struct WriteInfo {
  std::string schema, table;  // T-SQL names of the written table
  // INSERT: for every row, for every column of the table, the SQLite
  // expression of the value stored (empty: the column is not named).
  std::vector<std::vector<std::string>> rows;
  // UPDATE: for every column, the expression of its new value (empty: the
  // column keeps its value), and the condition (empty: every row).
  std::vector<std::string> set;
  std::string where;
};

// One cached translation and its prepared statement (finalized with it).
struct CachedStatement {
  sqlite3_stmt* stmt = nullptr;
  std::atomic<bool> inUse{false};  // lent to an execution; a second one prepares its own copy
  Kind kind = Kind::Other;
  std::string marked;  // the translation with ParamMark's, for the self-check
  std::string sql;     // the translation with ?N parameters, as prepared
  int literals = 0;    // string literals of the shape; CURRENT_TIMESTAMP is ?literals+1
  bool nowUsed = false;
  // What a statement of this shape must match for the translation to hold:
  // the values of the literals that are no parameter or that the
  // translation read, and the outcomes of the checks of the others.
  std::vector<bool> mustEqual;
  std::vector<std::string> values;
  std::vector<LiteralCheck> checks;
  WriteInfo write;  // with ParamMark's, as `marked`

  CachedStatement() = default;
  ~CachedStatement() { sqlite3_finalize(stmt); }
  CachedStatement(const CachedStatement&) = delete;
  CachedStatement& operator=(const CachedStatement&) = delete;

  // True when a statement of this shape with these literal values
  // translates to this statement.
  [[nodiscard]] bool Matches(const std::vector<std::string_view>& vals) const;
};

class StatementCache {
 public:
  // The entry for a statement of shape `key` with literal values `vals`,
  // or null.
  std::shared_ptr<CachedStatement> Find(const std::string& key, const std::vector<std::string_view>& vals) const;
  void Add(const std::string& key, std::shared_ptr<CachedStatement> entry);
  // Drops every entry; a statement still lent out is finalized when its
  // execution lets it go.
  void Clear() {
    shapes_.clear();
    count_ = 0;
  }

 private:
  // A few variants per shape (literals whose values the translation read),
  // a bounded number in all: the tool sends a handful of shapes.
  static constexpr std::size_t kVariantsPerShape = 8;
  static constexpr std::size_t kMaxEntries = 256;
  std::unordered_map<std::string, std::vector<std::shared_ptr<CachedStatement>>> shapes_;
  std::size_t count_ = 0;
};

}  // namespace tsql
