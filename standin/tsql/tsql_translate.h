// The T-SQL translator: a recursive-descent parser over the tokens of one
// statement that writes the SQLite statement as it goes. Every expression
// carries its SQL Server type, so that comparisons get the default
// collation (COLLATE TSQL) or a conversion of one side, '+' joins texts or
// adds numbers, and a value stored into a column is converted to the
// column's type with SQL Server's errors. Expressions of constants (the
// values the tool writes) are folded here, so the SQLite statement holds
// plain literals; a conversion that fails is left to a tsql_* function,
// which reports the error when the statement runs, as SQL Server does.
//
// Statements understood:
//   SELECT [DISTINCT] [TOP n] items [FROM table [alias]] [WHERE c]
//          [GROUP BY e, ...] [HAVING c] [ORDER BY e [ASC|DESC], ...]
//   INSERT [INTO] table [(cols)] VALUES (v, ...)[, (...)] | DEFAULT VALUES
//   UPDATE table SET col = e, ... [WHERE c]
//   DELETE [FROM] table [WHERE c]          TRUNCATE TABLE table
//   CREATE SCHEMA s [AUTHORIZATION o]      CREATE TABLE t (...)
//   CREATE [UNIQUE] INDEX i ON t (cols)    DROP TABLE [IF EXISTS] t
//   ALTER TABLE t ADD coldef | DROP COLUMN c
//   SET option ..., USE db (ignored)
// Every statement commits on its own; there are no transactions.
//
// Names resolve against the connection's catalog. The parser's parts are
// tsql_translate_*.cpp (see tsql_translate_parser.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sql_types.h"
#include "tsql_cache.h"
#include "tsql_catalog.h"
#include "tsql_connection.h"
#include "tsql_lex.h"
#include "tsql_values.h"

namespace tsql {

// WriteInfo (what MapError needs to name a duplicate key) is declared with
// the statement cache, which keeps it with every cached translation.
struct Statement {
  std::vector<std::string> pre;  // SQLite statements to run first (idempotent)
  std::string sql;               // the statement; empty: nothing to run
  Kind kind = Kind::Other;
  bool ddl = false;  // changes the catalog
  WriteInfo write;
};

// A translation with the statement's string literals as parameters: every
// literal that the parser turns into a value is written into the SQLite
// statement as ParamMark(k) (k: the literal's number in text order) instead
// of its SQLite literal, and CURRENT_TIMESTAMP as ParamMark(nowParam). The
// parser reads a literal's value only through calls that record it here,
// so the translation of any statement whose text differs only in literal
// values is the same SQLite text with other values in the marks, as long
// as every literal not `param`, or `pinned`, has the same value and every
// check the same outcome.
struct LiteralUse {
  std::vector<int> litAtToken;  // token index -> literal number, -1 for other tokens
  std::vector<bool> param;      // the literal became a parameter mark
  std::vector<bool> pinned;     // the translation read the literal's value
  std::vector<LiteralCheck> checks;
  int nowParam = 0;  // = number of literals
  bool nowUsed = false;
  bool uncacheable = false;  // depends on the time or on something else outside the text

  // Sets the literal numbers of `toks` and clears what a parse recorded.
  void Start(const std::vector<Token>& toks);
};

// The mark of parameter k in a translation with LiteralUse: NUL, k, NUL. A
// statement text without NUL bytes never yields a NUL in its translation
// otherwise (texts with NUL are spelled in hex, names come from the text or
// from SQLite's schema).
std::string ParamMark(int k);

// Translates the statement that starts at token `pos` of `toks` (lexed from
// `text`); on success `pos` is after it and after a ';' that ends it. The
// caller holds `conn.mu`. With `use`, the literals become parameters (see
// LiteralUse); with `now`, CURRENT_TIMESTAMP is that instant instead of the
// clock's.
bool TranslateStatement(Connection& conn, std::string_view text, const std::vector<Token>& toks, std::size_t& pos,
                        Statement& out, Error& err, LiteralUse* use = nullptr, const DateTime* now = nullptr);

}  // namespace tsql
