// The translator proper: parses one T-SQL statement into SQLite SQL with
// SQL Server's semantics, resolving names against the connection's catalog.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tsql.h"
#include "tsql_catalog.h"
#include "tsql_lex.h"

namespace tsql {

// What MapError needs to name the duplicate key of a failed INSERT/UPDATE.
struct WriteInfo {
  std::string schema, table;    // T-SQL names of the written table
  // INSERT: for every row, for every column of the table, the SQLite
  // expression of the value stored (empty: the column is not named).
  std::vector<std::vector<std::string>> rows;
  // UPDATE: for every column, the expression of its new value (empty: the
  // column keeps its value), and the condition (empty: every row).
  std::vector<std::string> set;
  std::string where;
};

struct Statement {
  std::vector<std::string> pre;  // SQLite statements to run first (idempotent)
  std::string sql;               // the statement; empty: nothing to run
  Kind kind = Kind::Other;
  bool ddl = false;              // changes the catalog
  WriteInfo write;
};

// Translates the statement that starts at token `pos` of `toks` (lexed from
// `text`); on success `pos` is after it and after a ';' that ends it. The
// caller holds `conn.mu`.
bool TranslateStatement(Connection& conn, std::string_view text, const std::vector<Token>& toks,
                        std::size_t& pos, Statement& out, Error& err);

}  // namespace tsql
