// The translator's DDL: CREATE SCHEMA, CREATE TABLE, CREATE INDEX, DROP
// TABLE and ALTER TABLE, written as SQLite DDL that keeps SQL Server's types
// as declared types (read back by the catalog).
#include <cstdlib>

#include "tsql_translate_parser.h"

namespace tsql::translator {

// ---------------------------------------------------------------------------
// DDL

void Parser::SkipOptions() {
  // A parenthesised option list such as WITH (PAD_INDEX = OFF, ...).
  if (!IsOp(Cur(), "(")) return;
  int depth = 0;
  do {
    if (IsOp(Cur(), "(")) ++depth;
    if (IsOp(Cur(), ")")) --depth;
    Advance();
  } while (depth > 0 && Cur().kind != Tok::End);
}

bool Parser::ParseKeyColumns(KeyDef& key, bool index) {
  if (!ExpectOp("(")) return false;
  do {
    if (!IsName(Cur())) return Fail();
    key.cols.push_back(Cur().value);
    Advance();
    bool desc = AcceptWord("DESC");
    if (!desc) AcceptWord("ASC");
    key.descending.push_back(desc);
  } while (AcceptOp(","));
  if (!ExpectOp(")")) return false;
  if (index) {
    if (AcceptWord("INCLUDE")) {
      if (!IsOp(Cur(), "(")) return Fail();
      SkipOptions();
    }
    if (IsWord(Cur(), "WHERE")) return Fail();
  }
  // WITH (index options), ON filegroup: accepted and ignored.
  if (IsWord(Cur(), "WITH") && IsOp(Peek(1), "(")) {
    Advance();
    SkipOptions();
  }
  if (AcceptWord("ON")) {
    if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
    Advance();
  }
  return true;
}

bool Parser::ParseColumnDef(ColumnDef& def, int column, const std::string& tableName) {
  if (!IsName(Cur())) return Fail();
  def.info.name = Cur().value;
  Advance();
  TypeName ts;
  if (!ParseTypeName(ts, true, column)) return false;
  def.info.type = ts.type;
  def.info.length = IsTextType(ts.type) ? ts.length : -1;
  std::string constraintName;
  for (;;) {
    if (AcceptWord("COLLATE")) {
      if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
      Advance();  // every text compares by the default collation
    } else if (AcceptWord("NULL")) {
      def.explicitNull = true;
    } else if (IsWord(Cur(), "NOT") && IsWord(Peek(1), "NULL")) {
      Advance();
      Advance();
      def.info.notNull = true;
    } else if (AcceptWord("CONSTRAINT")) {
      if (!IsName(Cur())) return Fail();
      constraintName = Cur().value;
      Advance();
    } else if (IsWord(Cur(), "PRIMARY") && IsWord(Peek(1), "KEY")) {
      Advance();
      Advance();
      if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
      if (def.primaryKey) {
        return Error_(
            MakeError(8110, "42000", "Cannot add multiple PRIMARY KEY constraints to table '" + tableName + "'."));
      }
      def.primaryKey = true;
      def.pkName = constraintName;
      constraintName.clear();
    } else if (AcceptWord("UNIQUE")) {
      if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
      def.unique = true;
      def.uniqueName = constraintName;
      constraintName.clear();
    } else if (AcceptWord("DEFAULT")) {
      std::size_t at = pos_;
      Expr e;
      constantsOnly_ = true;
      bool ok = ParseExpr(e);
      constantsOnly_ = false;
      if (!ok) return false;
      constraintName.clear();
      if (e.isNow) {
        def.defaultSql = kNowDefaultSql;
      } else if (e.isConst) {
        std::string sql;
        if (!Assign(def.info, e, at, sql)) return false;
        if (sql.rfind("tsql_", 0) == 0) {
          // A default that does not fit its column fails at once.
          if (def.info.IsInt()) {
            int64_t v = 0;
            Error conv;
            if (e.type == T::Text && !ParseInt(Val(e).s, IntKindOf(def.info.type), v, conv)) return Error_(conv);
            if (e.type == T::Int && !FitInt(Val(e).i, IntKindOf(def.info.type), v, conv)) return Error_(conv);
          } else if (def.info.type == ColType::DateTime) {
            DateTime dt;
            Error conv;
            if (e.type == T::Text && !ParseDateTime(Val(e).s, -1, dt, conv)) return Error_(conv);
          }
          return Error_(TruncationError());
        }
        def.defaultSql = sql;
      } else {
        return FailAt(at);
      }
    } else {
      break;
    }
  }
  return true;
}

bool Parser::ColumnSql(const ColumnDef& def, std::string& sql) {
  sql = QuoteId(def.info.name) + " " + DeclaredType(def.info.type, def.info.length);
  if (def.info.IsText()) sql += " COLLATE TSQL";
  if (def.info.notNull) sql += " NOT NULL";
  if (!def.defaultSql.empty()) sql += " DEFAULT " + def.defaultSql;
  return true;
}

bool Parser::ParseCreateSchema(Statement& out) {
  Advance();  // SCHEMA
  if (!IsName(Cur())) return Fail();
  std::string name = Cur().value;
  Advance();
  if (AcceptWord("AUTHORIZATION")) {
    if (!IsName(Cur())) return Fail();
    Advance();
  }
  if (!conn_.catalog.FindSchema(name).empty()) {
    return Error_(MakeError(2714, "42S01", "There is already an object named '" + name + "' in the database."));
  }
  if (!conn_.catalog.HasSchemaTable()) {
    out.pre.emplace_back(
        "CREATE TABLE IF NOT EXISTS \"sys.schemas\" (name varchar(128) COLLATE TSQL NOT NULL, "
        "CONSTRAINT \"PK_schemas\" PRIMARY KEY (name)) WITHOUT ROWID");
  }
  out.sql = "INSERT INTO \"sys.schemas\" (name) VALUES (" + TextLiteral(name) + ")";
  out.kind = Kind::Ddl;
  out.ddl = true;
  return true;
}

bool Parser::ParseCreateTable(Statement& out) {
  Advance();  // TABLE
  std::vector<std::string> parts;
  std::string written;
  if (!ParseNameParts(parts, written)) return false;
  std::string schemaWritten = parts.size() >= 2 ? parts[parts.size() - 2] : "dbo";
  std::string name = parts.back();
  std::string schema = conn_.catalog.FindSchema(schemaWritten);
  if (schema.empty() || Upper(schema) == "SYS") {
    return Error_(MakeError(2760, "42000",
                            "The specified schema name \"" + schemaWritten +
                                "\" either does not exist or you do not have permission to use it."));
  }
  if (conn_.catalog.FindTable(schema, name) != nullptr) {
    return Error_(MakeError(2714, "42S01", "There is already an object named '" + name + "' in the database."));
  }
  if (!ExpectOp("(")) return false;
  std::vector<ColumnDef> cols;
  std::vector<KeyDef> keys;
  do {
    std::string constraintName;
    if (AcceptWord("CONSTRAINT")) {
      if (!IsName(Cur())) return Fail();
      constraintName = Cur().value;
      Advance();
    }
    if ((IsWord(Cur(), "PRIMARY") && IsWord(Peek(1), "KEY")) || IsWord(Cur(), "UNIQUE")) {
      KeyDef key;
      key.primary = IsWord(Cur(), "PRIMARY");
      Advance();
      if (key.primary) Advance();
      if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
      key.name = constraintName;
      if (!ParseKeyColumns(key)) return false;
      keys.push_back(std::move(key));
      continue;
    }
    if (!constraintName.empty()) return Fail();
    ColumnDef def;
    if (!ParseColumnDef(def, static_cast<int>(cols.size()) + 1, name)) return false;
    for (const ColumnDef& other : cols) {
      if (Upper(other.info.name) == Upper(def.info.name)) {
        return Error_(MakeError(2705, "42S21",
                                "Column names in each table must be unique. Column name '" + def.info.name +
                                    "' in table '" + name + "' is specified more than once."));
      }
    }
    if (def.primaryKey) {
      KeyDef key;
      key.primary = true;
      key.name = def.pkName;
      key.cols.push_back(def.info.name);
      key.descending.push_back(false);
      keys.push_back(std::move(key));
    }
    if (def.unique) {
      KeyDef key;
      key.primary = false;
      key.name = def.uniqueName;
      key.cols.push_back(def.info.name);
      key.descending.push_back(false);
      keys.push_back(std::move(key));
    }
    cols.push_back(std::move(def));
  } while (AcceptOp(","));
  if (!ExpectOp(")")) return false;
  // ON [PRIMARY], TEXTIMAGE_ON [PRIMARY], WITH (...): accepted and ignored.
  for (;;) {
    if (AcceptWord("ON") || AcceptWord("TEXTIMAGE_ON")) {
      if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
      Advance();
    } else if (IsWord(Cur(), "WITH") && IsOp(Peek(1), "(")) {
      Advance();
      SkipOptions();
    } else {
      break;
    }
  }

  bool havePrimary = false;
  int uniqueCount = 0;
  std::string constraints;
  for (KeyDef& key : keys) {
    if (key.primary) {
      if (havePrimary) {
        return Error_(MakeError(8110, "42000", "Cannot add multiple PRIMARY KEY constraints to table '" + name + "'."));
      }
      havePrimary = true;
    }
    std::string list;
    for (const std::string& kc : key.cols) {
      ColumnDef* found = nullptr;
      for (ColumnDef& c : cols) {
        if (Upper(c.info.name) == Upper(kc)) found = &c;
      }
      if (found == nullptr) {
        return Error_(MakeError(1911, "42000", "Column name '" + kc + "' does not exist in the target table or view."));
      }
      if (key.primary) {
        if (found->explicitNull) {
          return Error_(MakeError(8111, "42000",
                                  "Cannot define PRIMARY KEY constraint on nullable column in table '" + name + "'."));
        }
        found->info.notNull = true;  // as SQL Server makes a key column NOT NULL
      }
      if (!list.empty()) list += ", ";
      list += QuoteId(found->info.name);
    }
    if (key.name.empty()) {
      key.name = key.primary ? DefaultConstraintName("PK", schema, name)
                             : DefaultConstraintName("UQ", schema, name + "_" + std::to_string(++uniqueCount));
    }
    constraints += ", CONSTRAINT " + QuoteId(key.name) + (key.primary ? " PRIMARY KEY (" : " UNIQUE (") + list + ")";
  }
  std::string sql = "CREATE TABLE " + QuoteId(schema + "." + name) + " (";
  for (std::size_t i = 0; i < cols.size(); ++i) {
    std::string c;
    ColumnSql(cols[i], c);
    if (i > 0) sql += ", ";
    sql += c;
  }
  sql += constraints;
  sql += ")";
  if (havePrimary) sql += " WITHOUT ROWID";
  out.sql = std::move(sql);
  out.kind = Kind::Ddl;
  out.ddl = true;
  return true;
}

bool Parser::ParseCreateIndex(Statement& out) {
  bool unique = AcceptWord("UNIQUE");
  if (!AcceptWord("CLUSTERED")) AcceptWord("NONCLUSTERED");
  if (!ExpectWord("INDEX")) return false;
  if (!IsName(Cur())) return Fail();
  std::string name = Cur().value;
  Advance();
  if (!ExpectWord("ON")) return false;
  const TableInfo* table = nullptr;
  if (!ParseTableRef(table, nullptr)) return false;
  for (const std::string& existing : table->indexes) {
    if (existing == Upper(name)) {
      return Error_(MakeError(1913, "42000",
                              "The operation failed because an index or statistics with name '" + name +
                                  "' already exists on table '" + table->Display() + "'."));
    }
  }
  KeyDef key;
  if (!ParseKeyColumns(key, true)) return false;
  std::string list;
  for (std::size_t i = 0; i < key.cols.size(); ++i) {
    int idx = table->Find(key.cols[i]);
    if (idx < 0)
      return Missing(
          MakeError(1911, "42000", "Column name '" + key.cols[i] + "' does not exist in the target table or view."));
    if (!list.empty()) list += ", ";
    list += QuoteId(table->cols[static_cast<std::size_t>(idx)].name);
    if (key.descending[i]) list += " DESC";
  }
  out.sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + QuoteId(table->sqliteName + "." + name) +
            " ON " + QuoteId(table->sqliteName) + " (" + list + ")";
  out.kind = Kind::Ddl;
  out.ddl = true;
  return true;
}

bool Parser::ParseCreate(Statement& out) {
  Advance();  // CREATE
  if (IsWord(Cur(), "SCHEMA")) return ParseCreateSchema(out);
  if (IsWord(Cur(), "TABLE")) return ParseCreateTable(out);
  if (IsWord(Cur(), "UNIQUE") || IsWord(Cur(), "CLUSTERED") || IsWord(Cur(), "NONCLUSTERED") ||
      IsWord(Cur(), "INDEX")) {
    return ParseCreateIndex(out);
  }
  return Fail();
}

bool Parser::ParseDrop(Statement& out) {
  Advance();  // DROP
  out.kind = Kind::Ddl;
  out.ddl = true;
  if (AcceptWord("TABLE")) {
    bool ifExists = false;
    if (IsWord(Cur(), "IF") && IsWord(Peek(1), "EXISTS")) {
      Advance();
      Advance();
      ifExists = true;
    }
    std::vector<std::string> parts;
    std::string written;
    if (!ParseNameParts(parts, written)) return false;
    const TableInfo* table =
        conn_.catalog.FindTable(parts.size() >= 2 ? parts[parts.size() - 2] : std::string(), parts.back());
    if (table == nullptr) {
      if (ifExists) return true;
      return Error_(MakeError(
          3701, "42S02",
          "Cannot drop the table '" + written + "', because it does not exist or you do not have permission."));
    }
    out.sql = "DROP TABLE " + QuoteId(table->sqliteName);
    return true;
  }
  return Fail();
}

bool Parser::ParseAlter(Statement& out) {
  Advance();  // ALTER
  if (!ExpectWord("TABLE")) return false;
  if (!ParseTableRef(table_, nullptr)) return false;
  out.kind = Kind::Ddl;
  out.ddl = true;
  if (AcceptWord("ADD")) {
    ColumnDef def;
    if (!ParseColumnDef(def, static_cast<int>(table_->cols.size()) + 1, table_->name)) return false;
    if (table_->Find(def.info.name) >= 0) {
      return Error_(MakeError(2705, "42S21",
                              "Column names in each table must be unique. Column name '" + def.info.name +
                                  "' in table '" + table_->name + "' is specified more than once."));
    }
    if (def.primaryKey || def.unique) return Fail();
    std::string c;
    ColumnSql(def, c);
    out.sql = "ALTER TABLE " + QuoteId(table_->sqliteName) + " ADD COLUMN " + c;
    return true;
  }
  if (AcceptWord("DROP")) {
    if (!ExpectWord("COLUMN")) return false;
    if (!IsName(Cur())) return Fail();
    std::string name = Cur().value;
    Advance();
    int idx = table_->Find(name);
    if (idx < 0) {
      return Missing(MakeError(4924, "42000",
                               "ALTER TABLE DROP COLUMN failed because column '" + name +
                                   "' does not exist in table '" + table_->name + "'."));
    }
    out.sql = "ALTER TABLE " + QuoteId(table_->sqliteName) + " DROP COLUMN " +
              QuoteId(table_->cols[static_cast<std::size_t>(idx)].name);
    return true;
  }
  return Fail();
}

}  // namespace tsql::translator
