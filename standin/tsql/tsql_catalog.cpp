// The per-connection catalog of the stand-in's T-SQL side.
#include "tsql_catalog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "tsql_lex.h"

namespace tsql {

namespace {

// Runs `sql` and calls `row` for every result row.
template <typename F>
bool Query(sqlite3* db, const std::string& sql, Error& err, F row) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) {
    err = MakeErrorFromSqlite(db);
    sqlite3_finalize(st);
    return false;
  }
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
  if (rc != SQLITE_DONE) {
    err = MakeErrorFromSqlite(db);
    sqlite3_finalize(st);
    return false;
  }
  sqlite3_finalize(st);
  return true;
}

std::string Text(sqlite3_stmt* st, int col) {
  const unsigned char* p = sqlite3_column_text(st, col);
  return p == nullptr
             ? std::string()
             : std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

// Splits "schema.name" at its first dot; a name without one is dbo's.
void SplitName(const std::string& full, std::string& schema, std::string& name) {
  std::size_t dot = full.find('.');
  if (dot == std::string::npos) {
    schema = "dbo";
    name = full;
  } else {
    schema = full.substr(0, dot);
    name = full.substr(dot + 1);
  }
}

// Reads the named table constraints from the CREATE TABLE text the
// translator wrote: CONSTRAINT "name" PRIMARY KEY|UNIQUE ("col", ...).
void ReadConstraints(const std::string& sql, TableInfo& t) {
  std::vector<Token> toks = Lex(sql);
  for (std::size_t i = 0; i + 3 < toks.size(); ++i) {
    if (!IsWord(toks[i], "CONSTRAINT")) continue;
    const Token& name = toks[i + 1];
    if (name.kind != Tok::Ident && name.kind != Tok::QuotedIdent) continue;
    std::size_t k = i + 2;
    KeyInfo key;
    key.name = name.value;
    if (IsWord(toks[k], "PRIMARY") && IsWord(toks[k + 1], "KEY")) {
      key.kind = KeyInfo::Kind::PrimaryKey;
      k += 2;
    } else if (IsWord(toks[k], "UNIQUE")) {
      key.kind = KeyInfo::Kind::UniqueConstraint;
      k += 1;
    } else {
      continue;
    }
    if (k >= toks.size() || !IsOp(toks[k], "(")) continue;
    for (++k; k < toks.size() && !IsOp(toks[k], ")"); ++k) {
      if (toks[k].kind == Tok::Ident || toks[k].kind == Tok::QuotedIdent) {
        int pos = t.Find(toks[k].value);
        if (pos >= 0) key.cols.push_back(pos);
      }
    }
    if (key.kind == KeyInfo::Kind::PrimaryKey) {
      // The columns come from SQLite's own view of the key (below); only
      // the name is taken here.
      for (KeyInfo& existing : t.keys) {
        if (existing.kind == KeyInfo::Kind::PrimaryKey) existing.name = key.name;
      }
    } else {
      t.keys.push_back(std::move(key));
    }
  }
}

}  // namespace

int TableInfo::Find(std::string_view name) const {
  auto it = byName.find(Upper(name));
  return it == byName.end() ? -1 : it->second;
}

const KeyInfo* TableInfo::PrimaryKey() const {
  for (const KeyInfo& k : keys) {
    if (k.kind == KeyInfo::Kind::PrimaryKey) return &k;
  }
  return nullptr;
}

bool Catalog::Load(sqlite3* db, Error& err) {
  tables_.clear();
  schemas_.clear();
  hasSchemaTable_ = false;
  schemas_["DBO"] = "dbo";
  schemas_["SYS"] = "sys";

  struct Entry {
    std::string type, name, table, sql;
  };
  std::vector<Entry> entries;
  if (!Query(db, "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE type IN ('table','index')", err,
             [&](sqlite3_stmt* st) {
               entries.push_back({Text(st, 0), Text(st, 1), Text(st, 2), Text(st, 3)});
             })) {
    return false;
  }
  for (const Entry& e : entries) {
    if (e.type != "table" || e.name.rfind("sqlite_", 0) == 0) continue;
    TableInfo t;
    SplitName(e.name, t.schema, t.name);
    t.sqliteName = e.name;
    std::vector<std::pair<int, int>> pk;  // (order in key, column)
    if (!Query(db, "PRAGMA table_xinfo(" + QuoteId(e.name) + ")", err, [&](sqlite3_stmt* st) {
          if (sqlite3_column_int(st, 6) != 0) return;  // hidden column
          ColumnInfo c;
          c.name = Text(st, 1);
          standin::ColumnType declared = standin::ParseDeclaredType(Text(st, 2));
          c.type = declared.type;
          c.length = declared.length;
          c.notNull = sqlite3_column_int(st, 3) != 0;
          c.hasDefault = sqlite3_column_type(st, 4) != SQLITE_NULL;
          int order = sqlite3_column_int(st, 5);
          int pos = static_cast<int>(t.cols.size());
          if (order > 0) pk.emplace_back(order, pos);
          t.byName.emplace(Upper(c.name), pos);
          t.cols.push_back(std::move(c));
        })) {
      return false;
    }
    for (ColumnInfo& c : t.cols) {
      const char* type = nullptr;
      const char* collation = nullptr;
      if (c.IsText() && sqlite3_table_column_metadata(db, "main", e.name.c_str(), c.name.c_str(), &type, &collation,
                                                      nullptr, nullptr, nullptr) == SQLITE_OK) {
        c.collated = collation != nullptr && Upper(collation) == "TSQL";
      }
    }
    if (!pk.empty()) {
      KeyInfo key;
      key.kind = KeyInfo::Kind::PrimaryKey;
      key.name = DefaultConstraintName("PK", t.schema, t.name);
      std::sort(pk.begin(), pk.end());
      for (const auto& p : pk) key.cols.push_back(p.second);
      t.keys.push_back(std::move(key));
    }
    ReadConstraints(e.sql, t);
    std::string schemaUpper = Upper(t.schema);
    schemas_.emplace(schemaUpper, t.schema);
    if (e.name == "sys.schemas") hasSchemaTable_ = true;
    tables_.emplace(schemaUpper + "." + Upper(t.name), std::move(t));
  }
  for (const Entry& e : entries) {
    if (e.type != "index") continue;
    auto it = tables_.end();
    std::string schema, table;
    SplitName(e.table, schema, table);
    it = tables_.find(Upper(schema) + "." + Upper(table));
    if (it == tables_.end()) continue;
    TableInfo& t = it->second;
    std::string prefix = e.table + ".";
    if (e.name.rfind(prefix, 0) != 0) continue;  // SQLite's own key indexes
    std::string indexName = e.name.substr(prefix.size());
    t.indexes.push_back(Upper(indexName));
    std::vector<Token> toks = Lex(e.sql);
    if (toks.size() < 2 || !IsWord(toks[1], "UNIQUE")) continue;
    KeyInfo key;
    key.kind = KeyInfo::Kind::UniqueIndex;
    key.name = indexName;
    std::size_t k = 0;
    while (k < toks.size() && !IsOp(toks[k], "(")) ++k;
    for (++k; k < toks.size() && !IsOp(toks[k], ")"); ++k) {
      if (toks[k].kind == Tok::Ident || toks[k].kind == Tok::QuotedIdent) {
        int pos = t.Find(toks[k].value);
        if (pos >= 0) key.cols.push_back(pos);
      }
    }
    t.keys.push_back(std::move(key));
  }
  if (hasSchemaTable_) {
    if (!Query(db, "SELECT name FROM \"sys.schemas\"", err, [&](sqlite3_stmt* st) {
          std::string name = Text(st, 0);
          schemas_.emplace(Upper(name), name);
        })) {
      return false;
    }
  }
  return true;
}

const TableInfo* Catalog::FindTable(std::string_view schema, std::string_view name) const {
  std::string upperName = Upper(name);
  if (!schema.empty()) {
    auto it = tables_.find(Upper(schema) + "." + upperName);
    return it == tables_.end() ? nullptr : &it->second;
  }
  auto it = tables_.find("DBO." + upperName);
  if (it != tables_.end()) return &it->second;
  // No default schema of the login is known to the stand-in: a name
  // without schema finds the one table of that name, whatever its schema.
  const TableInfo* found = nullptr;
  for (const auto& entry : tables_) {
    if (Upper(entry.second.name) == upperName) {
      if (found != nullptr) return nullptr;
      found = &entry.second;
    }
  }
  return found;
}

std::string Catalog::FindSchema(std::string_view schema) const {
  auto it = schemas_.find(Upper(schema));
  return it == schemas_.end() ? std::string() : it->second;
}

std::string DefaultConstraintName(const char* prefix, std::string_view schema, std::string_view table) {
  // FNV-1a over the qualified name stands in for SQL Server's object id.
  uint64_t h = 1469598103934665603ULL;
  for (char ch : Upper(std::string(schema) + "." + std::string(table))) {
    h ^= static_cast<unsigned char>(ch);
    h *= 1099511628211ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(h));
  return std::string(prefix) + "__" + std::string(table.substr(0, 16)) + "__" + hex;
}

std::string QuoteId(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += '"';
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace tsql
