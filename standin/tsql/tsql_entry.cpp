// The T-SQL side of the stand-in: entry points of tsql.h. Setup lives with
// the SQLite functions (tsql_functions.cpp), Prepare with the statement
// cache (tsql_prepare.cpp), Database and Execute in tsql_database.cpp, the
// translation proper in tsql_translate*.cpp; here are Translate, MapError
// (SQLite's failures as SQL Server's errors) and RunScript (DDL files with
// GO).
#include "tsql.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "tsql_catalog.h"
#include "tsql_connection.h"
#include "tsql_lex.h"
#include "tsql_prepare.h"
#include "tsql_translate.h"
#include "tsql_values.h"

namespace tsql {

namespace {

std::string NearText(std::string_view text, const Token& t) {
  if (t.kind == Tok::String || t.kind == Tok::NString || t.kind == Tok::QuotedIdent || t.kind == Tok::Ident) {
    return t.value;
  }
  return std::string(text.substr(t.begin, t.end - t.begin));
}

// Runs one SQLite statement to its end, discarding result rows; a failure
// is mapped to SQL Server's error for `tsql`.
bool RunSqlite(sqlite3* db, const std::string& sql, const std::string& tsql, Error& err) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) {
    err = MapError(db, rc, tsql);
    sqlite3_finalize(st);
    return false;
  }
  if (st == nullptr) return true;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) err = MapError(db, rc, tsql);
  sqlite3_finalize(st);
  return rc == SQLITE_DONE;
}

bool StartsWithWord(std::string_view text, const char* word) {
  std::vector<Token> toks = Lex(text.substr(0, 64));
  return !toks.empty() && IsWord(toks[0], word);
}

// SQL Server's text of a key value in a duplicate-key message.
std::string KeyText(bool isNull, const std::string& s, const ColumnInfo& c) {
  if (isNull) return "<NULL>";
  DateTime dt;
  std::string formatted;
  Error ignored;
  if (c.type == ColType::DateTime && ParseCanonical(s, dt) && FormatDateTime(dt, 0, formatted, ignored)) {
    return formatted;
  }
  return s;
}

std::string KeyValueText(sqlite3_stmt* st, int col, const ColumnInfo& c) {
  if (sqlite3_column_type(st, col) == SQLITE_NULL) return KeyText(true, std::string(), c);
  const unsigned char* p = sqlite3_column_text(st, col);
  std::string s = p == nullptr ? std::string()
                               : std::string(reinterpret_cast<const char*>(p),
                                             static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
  return KeyText(false, s, c);
}

// The value of a SQLite expression that is a plain literal as the
// translator writes them: NULL, 'text' (apostrophes doubled) or an integer
// in its shortest form; what SQLite's SELECT of it would give as text.
// False for anything else.
bool LiteralValue(const std::string& e, bool& isNull, std::string& out) {
  isNull = false;
  out.clear();
  if (e == "NULL") {
    isNull = true;
    return true;
  }
  if (e.size() >= 2 && e.front() == '\'' && e.back() == '\'') {
    for (std::size_t i = 1; i + 1 < e.size(); ++i) {
      if (e[i] != '\'') {
        out += e[i];
      } else if (i + 2 < e.size() && e[i + 1] == '\'') {
        out += '\'';
        ++i;
      } else {
        return false;  // two literals joined by something
      }
    }
    return true;
  }
  if (e.empty() || e.size() > 20) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(e.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0' || std::to_string(v) != e) return false;
  out = e;
  return true;
}

// The values of `exprs` (SQLite expressions over `from`), joined as SQL
// Server shows a duplicate key: "a, b".
bool EvaluateKey(sqlite3* db, const std::vector<std::string>& exprs, const std::string& from,
                 const std::vector<const ColumnInfo*>& cols, std::string& out) {
  if (from.empty()) {
    // Values written as literals (the tool's statements): read without
    // asking SQLite.
    std::string text;
    bool plain = true;
    for (std::size_t i = 0; i < exprs.size() && plain; ++i) {
      bool isNull = false;
      std::string v;
      plain = LiteralValue(exprs[i], isNull, v);
      if (i > 0) text += ", ";
      text += KeyText(isNull, v, *cols[i]);
    }
    if (plain) {
      out = std::move(text);
      return true;
    }
  }
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < exprs.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += exprs[i];
  }
  sql += from;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return false;
  }
  bool ok = false;
  if (sqlite3_step(st) == SQLITE_ROW) {
    out.clear();
    for (std::size_t i = 0; i < exprs.size(); ++i) {
      if (i > 0) out += ", ";
      out += KeyValueText(st, static_cast<int>(i), *cols[i]);
    }
    ok = true;
  }
  sqlite3_finalize(st);
  return ok;
}

// "UNIQUE constraint failed: S.T.a, S.T.b": the key of `t` that failed.
const KeyInfo* FailedKey(const TableInfo& t, const std::string& sqliteMessage, int extended) {
  std::vector<int> failed;
  std::size_t colon = sqliteMessage.find(": ");
  if (colon != std::string::npos) {
    std::string list = sqliteMessage.substr(colon + 2);
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t comma = list.find(", ", start);
      std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      std::size_t dot = item.rfind('.');
      int idx = t.Find(dot == std::string::npos ? item : item.substr(dot + 1));
      if (idx >= 0) failed.push_back(idx);
      if (comma == std::string::npos) break;
      start = comma + 2;
    }
  }
  const KeyInfo* key = nullptr;
  for (const KeyInfo& k : t.keys) {
    if (k.cols == failed) key = &k;
  }
  if (key == nullptr && (extended == SQLITE_CONSTRAINT_PRIMARYKEY || failed.empty())) key = t.PrimaryKey();
  return key;
}

// 2627 / 2601 for a failed INSERT or UPDATE: which key, which value. The
// statement is translated again to learn the values it stores.
Error DuplicateKey(sqlite3* db, const std::string& tsql, const std::string& sqliteMessage, int extended) {
  Error fallback = MakeError(
      2627, "23000", "Violation of PRIMARY KEY constraint. Cannot insert duplicate key. (" + sqliteMessage + ")");
  Error err;
  Connection* c = Attach(db, err);
  if (c == nullptr) return fallback;
  std::lock_guard<std::mutex> lock(c->mu);
  std::vector<Token> toks = Lex(tsql);
  std::size_t pos = 0;
  Statement st;
  if (toks[0].kind == Tok::End) return fallback;
  // The cached translation of the statement's shape tells the same as a
  // translation of the text.
  if (!CachedWriteInfo(*c, tsql, st.write)) {
    if (!TranslateStatement(*c, tsql, toks, pos, st, err)) return fallback;
  }
  if (st.write.table.empty()) return fallback;
  const TableInfo* t = c->catalog.FindTable(st.write.schema, st.write.table);
  if (t == nullptr) return fallback;

  const KeyInfo* key = FailedKey(*t, sqliteMessage, extended);
  if (key == nullptr) return fallback;

  std::vector<const ColumnInfo*> cols;
  for (int k : key->cols) cols.push_back(&t->cols[static_cast<std::size_t>(k)]);
  std::string values;
  bool found = false;
  if (!st.write.rows.empty()) {
    for (const auto& row : st.write.rows) {
      std::vector<std::string> exprs;
      std::string exists;
      for (int k : key->cols) {
        const std::string& e = row[static_cast<std::size_t>(k)];
        exprs.push_back(e.empty() ? "NULL" : e);
        if (!exists.empty()) exists += " AND ";
        exists += QuoteId(t->cols[static_cast<std::size_t>(k)].name) + " = " + exprs.back();
      }
      if (!EvaluateKey(db, exprs, "", cols, values)) continue;
      found = true;
      if (st.write.rows.size() == 1) break;
      std::string probe;
      if (EvaluateKey(db, {"1"}, " FROM " + QuoteId(t->sqliteName) + " WHERE " + exists, {cols[0]}, probe)) break;
    }
  } else if (!st.write.set.empty()) {
    std::vector<std::string> exprs;
    for (int k : key->cols) {
      const std::string& e = st.write.set[static_cast<std::size_t>(k)];
      exprs.push_back(e.empty() ? QuoteId(t->cols[static_cast<std::size_t>(k)].name) : e);
    }
    std::string from = " FROM " + QuoteId(t->sqliteName);
    if (!st.write.where.empty()) from += " WHERE " + st.write.where;
    found = EvaluateKey(db, exprs, from + " LIMIT 1", cols, values);
  }
  if (!found) values = "?";
  if (key->kind == KeyInfo::Kind::UniqueIndex) {
    return MakeError(2601, "23000",
                     "Cannot insert duplicate key row in object '" + t->Display() + "' with unique index '" +
                         key->name + "'. The duplicate key value is (" + values + ").");
  }
  return MakeError(2627, "23000",
                   std::string("Violation of ") +
                       (key->kind == KeyInfo::Kind::PrimaryKey ? "PRIMARY KEY" : "UNIQUE KEY") + " constraint '" +
                       key->name + "'. Cannot insert duplicate key in object '" + t->Display() +
                       "'. The duplicate key value is (" + values + ").");
}

// The native error of a duplicate key without its message, known from
// SQLite's message and the catalog alone (no statement runs): 2601 for a
// unique index, 2627 otherwise. False when the table cannot be told from
// the message; then the whole error is built at once.
bool DuplicateKeyNative(sqlite3* db, const std::string& sqliteMessage, int extended, int& native) {
  std::size_t colon = sqliteMessage.find(": ");
  if (colon == std::string::npos) return false;
  std::string item = sqliteMessage.substr(colon + 2, sqliteMessage.find(", ", colon + 2) - (colon + 2));
  std::size_t last = item.rfind('.');
  std::size_t first = item.find('.');
  if (last == std::string::npos || first == last) return false;
  Error err;
  Connection* c = Attach(db, err);
  if (c == nullptr) return false;
  std::lock_guard<std::mutex> lock(c->mu);
  const TableInfo* t = c->catalog.FindTable(item.substr(0, first), item.substr(first + 1, last - first - 1));
  if (t == nullptr) return false;
  const KeyInfo* key = FailedKey(*t, sqliteMessage, extended);
  if (key == nullptr) return false;
  native = key->kind == KeyInfo::Kind::UniqueIndex ? 2601 : 2627;
  return true;
}

bool IsGoLine(std::string_view line, int& count) {
  std::size_t b = 0, e = line.size();
  while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
  while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t' || line[e - 1] == '\r')) --e;
  std::string_view s = line.substr(b, e - b);
  std::size_t dash = s.find("--");
  if (dash != std::string_view::npos) {
    s = s.substr(0, dash);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  }
  if (s.size() < 2 || (s[0] != 'G' && s[0] != 'g') || (s[1] != 'O' && s[1] != 'o')) return false;
  s.remove_prefix(2);
  count = 1;
  if (s.empty()) return true;
  if (s[0] != ' ' && s[0] != '\t') return false;
  while (!s.empty() && (s[0] == ' ' || s[0] == '\t')) s.remove_prefix(1);
  int n = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9' || n > 100000) return false;
    n = n * 10 + (ch - '0');
  }
  count = n;
  return true;
}

bool RunBatch(sqlite3* db, Connection& c, const std::string& batch, Error& err) {
  std::vector<Token> toks = Lex(batch);
  std::size_t pos = 0;
  while (toks[pos].kind != Tok::End) {
    if (IsOp(toks[pos], ";")) {
      ++pos;
      continue;
    }
    std::size_t begin = toks[pos].begin;
    Statement st;
    {
      std::lock_guard<std::mutex> lock(c.mu);
      if (!TranslateStatement(c, batch, toks, pos, st, err)) return false;
    }
    std::string text = batch.substr(begin, toks[pos > 0 ? pos - 1 : 0].end - begin);
    for (const std::string& pre : st.pre) {
      if (!RunSqlite(db, pre, text, err)) return false;
    }
    if (!st.sql.empty() && !RunSqlite(db, st.sql, text, err)) return false;
  }
  return true;
}

}  // namespace

// Used while the catalog is read (with the connection's lock held): no
// side effects on the catalog, unlike MapError.
Error MakeErrorFromSqlite(sqlite3* db) {
  int rc = sqlite3_errcode(db);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
    return MakeError(1222, "HYT00", "Lock request time out period exceeded.");
  if (rc == SQLITE_NOMEM) return MakeError(701, "HY001", "There is insufficient system memory to run this query.");
  return MakeError(0, "HY000", sqlite3_errmsg(db));
}

bool Translate(sqlite3* db, const std::string& tsql, Translation& out, Error& err) {
  out = Translation();
  Connection* c = Attach(db, err);
  if (c == nullptr) return false;
  std::vector<Token> toks = Lex(tsql);
  std::size_t pos = 0;
  while (IsOp(toks[pos], ";")) ++pos;
  if (toks[pos].kind == Tok::End) return true;  // blanks and comments only
  Statement st;
  {
    std::lock_guard<std::mutex> lock(c->mu);
    if (!TranslateStatement(*c, tsql, toks, pos, st, err)) return false;
  }
  while (IsOp(toks[pos], ";")) ++pos;
  if (toks[pos].kind != Tok::End) {
    // One statement per execution: a batch of several is not supported.
    err = SyntaxError(NearText(tsql, toks[pos]));
    return false;
  }
  for (const std::string& pre : st.pre) {
    if (!RunSqlite(db, pre, tsql, err)) return false;
  }
  out.sql = std::move(st.sql);
  out.kind = st.kind;
  return true;
}

Error MapError(sqlite3* db, int rc, const std::string& tsql, bool deferMessage) {
  std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  Error e;
  if (DecodeError(message, e)) return e;
  int extended = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  int primary = extended & 0xff;
  if (primary == SQLITE_OK || primary == SQLITE_ROW || primary == SQLITE_DONE) primary = rc & 0xff;
  const char* verb = StartsWithWord(tsql, "UPDATE") ? "UPDATE" : "INSERT";

  if (extended == SQLITE_CONSTRAINT_NOTNULL) {
    // "NOT NULL constraint failed: SCHEMA.TABLE.COLUMN"
    std::size_t colon = message.find(": ");
    std::string full = colon == std::string::npos ? message : message.substr(colon + 2);
    std::size_t dot = full.rfind('.');
    std::string column = dot == std::string::npos ? full : full.substr(dot + 1);
    std::string table = dot == std::string::npos ? std::string() : full.substr(0, dot);
    return MakeError(515, "23000",
                     "Cannot insert the value NULL into column '" + column + "', table '" + table +
                         "'; column does not allow nulls. " + verb + " fails.");
  }
  if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE) {
    // The message names the key's values, read back with the statement
    // translated again: work for a client that reads it, and the IDN
    // importer's side-table inserts never do.
    int native = 0;
    if (deferMessage && db != nullptr && DuplicateKeyNative(db, message, extended, native)) {
      Error e = MakeError(native, "23000", "");
      e.pending = [db, tsql, message, extended] { return DuplicateKey(db, tsql, message, extended).message; };
      return e;
    }
    return DuplicateKey(db, tsql, message, extended);
  }
  switch (primary) {
    case SQLITE_CONSTRAINT:
      return MakeError(547, "23000",
                       std::string("The ") + verb + " statement conflicted with a constraint. (" + message + ")");
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return MakeError(1222, "HYT00", "Lock request time out period exceeded.");
    case SQLITE_READONLY:
      return MakeError(3906, "25000", "Failed to update database because the database is read-only.");
    case SQLITE_FULL:
      return MakeError(1105, "HY000", "Could not allocate space in the database because the disk is full.");
    case SQLITE_NOMEM: return MakeError(701, "HY001", "There is insufficient system memory to run this query.");
    case SQLITE_INTERRUPT: return MakeError(0, "HY008", "Operation canceled.");
    case SQLITE_SCHEMA:
      if (db != nullptr) MarkStale(db);
      return MakeError(0, "HY000", message);
    default: break;
  }
  if (message.rfind("no such table: ", 0) == 0) {
    if (db != nullptr) MarkStale(db);
    return InvalidObject(message.substr(15));
  }
  if (message.rfind("no such column: ", 0) == 0) {
    if (db != nullptr) MarkStale(db);
    std::string column = message.substr(16);
    std::size_t dot = column.rfind('.');
    return InvalidColumn(dot == std::string::npos ? column : column.substr(dot + 1));
  }
  if (message.rfind("misuse of aggregate", 0) == 0) {
    return MakeError(147, "42000",
                     "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in a HAVING "
                     "clause or a select list, and the column being aggregated is an outer reference.");
  }
  if (message.find("ORDER BY term out of range") != std::string::npos) {
    return MakeError(108, "42000",
                     "The ORDER BY position number is out of range of the number of items in the select list.");
  }
  if (message.find("GROUP BY term out of range") != std::string::npos) {
    return MakeError(164, "42000",
                     "Each GROUP BY expression must contain at least one column that is not an outer reference.");
  }
  std::size_t hasNo = message.find(" has no column named ");
  if (message.rfind("table ", 0) == 0 && hasNo != std::string::npos) {
    if (db != nullptr) MarkStale(db);
    return InvalidColumn(message.substr(hasNo + 21));
  }
  return MakeError(0, "HY000", message);
}

bool RunScript(sqlite3* db, const std::string& script, Error& err) {
  Connection* c = Attach(db, err);
  if (c == nullptr) return false;
  std::string batch;
  std::size_t start = 0;
  while (start <= script.size()) {
    std::size_t end = script.find('\n', start);
    std::size_t lineEnd = end == std::string::npos ? script.size() : end;
    std::string_view line(script.data() + start, lineEnd - start);
    int count = 1;
    if (IsGoLine(line, count)) {
      for (int i = 0; i < count; ++i) {
        if (!RunBatch(db, *c, batch, err)) return false;
      }
      batch.clear();
    } else {
      batch.append(line);
      batch += '\n';
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return RunBatch(db, *c, batch, err);
}

}  // namespace tsql
