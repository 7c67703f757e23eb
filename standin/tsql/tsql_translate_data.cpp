// The translator's data statements: SELECT, INSERT, UPDATE, DELETE and
// TRUNCATE TABLE.
#include "tsql_translate_parser.h"

namespace tsql::translator {

// ---------------------------------------------------------------------------
// SELECT

bool Parser::ParseSelect(Statement& out) {
  Advance();  // SELECT
  bool distinct = AcceptWord("DISTINCT");
  if (!distinct) AcceptWord("ALL");
  std::string limit;
  if (AcceptWord("TOP")) {
    bool paren = AcceptOp("(");
    if (Cur().kind != Tok::Integer) return Fail();
    limit = Cur().value;
    Advance();
    if (paren && !ExpectOp(")")) return false;
    if (IsWord(Cur(), "PERCENT")) return Fail();
  }
  // The select list names columns of the FROM table, which comes after it:
  // find FROM first, read the table, then come back for the list.
  std::size_t listStart = pos_;
  std::size_t fromAt = std::string::npos;
  int depth = 0;
  for (std::size_t k = pos_; t_[k].kind != Tok::End; ++k) {
    if (IsOp(t_[k], "(")) ++depth;
    if (IsOp(t_[k], ")")) {
      if (--depth < 0) break;
    }
    if (depth == 0 && (IsOp(t_[k], ";") || IsWord(t_[k], "WHERE") || IsWord(t_[k], "ORDER") || IsWord(t_[k], "GROUP") ||
                       IsWord(t_[k], "UNION"))) {
      break;
    }
    if (depth == 0 && IsWord(t_[k], "FROM")) {
      fromAt = k;
      break;
    }
  }
  std::size_t afterFrom = 0;
  if (fromAt != std::string::npos) {
    pos_ = fromAt + 1;
    if (!ParseTableRef(table_, &alias_)) return false;
    if (IsOp(Cur(), ",") || IsWord(Cur(), "JOIN") || IsWord(Cur(), "INNER") || IsWord(Cur(), "LEFT") ||
        IsWord(Cur(), "CROSS")) {
      return Fail();  // one table only
    }
    afterFrom = pos_;
    pos_ = listStart;
  }

  std::string items;
  std::vector<std::string> aliases;  // upper case
  do {
    std::string item;
    if (IsOp(Cur(), "*") ||
        ((Cur().kind == Tok::Ident || Cur().kind == Tok::QuotedIdent) && IsOp(Peek(1), ".") && IsOp(Peek(2), "*"))) {
      if (!IsOp(Cur(), "*")) {
        Advance();
        Advance();
      }
      if (table_ == nullptr) return Error_(MakeError(263, "42000", "Must specify table to select from."));
      Advance();
      item = "*";
    } else {
      std::string alias;
      bool hasAlias = false;
      if ((Cur().kind == Tok::Ident || Cur().kind == Tok::QuotedIdent || Cur().kind == Tok::String) &&
          !IsReserved(Cur()) && IsOp(Peek(1), "=")) {
        alias = Cur().value;
        hasAlias = true;
        Advance();
        Advance();
      }
      Expr e;
      std::size_t at = pos_;
      if (!ParseExpr(e) || !RequireValue(e, at)) return false;
      if (!hasAlias) {
        if (AcceptWord("AS")) {
          if (!IsName(Cur()) && Cur().kind != Tok::String) return Fail();
          alias = Cur().value;
          hasAlias = true;
          Advance();
        } else if (IsName(Cur()) || Cur().kind == Tok::String) {
          alias = Cur().value;
          hasAlias = true;
          Advance();
        }
      }
      if (!hasAlias && e.col != nullptr) alias = e.col->name;
      item = e.sql + " AS " + QuoteId(alias);
      if (hasAlias) aliases.push_back(Upper(alias));
    }
    if (!items.empty()) items += ", ";
    items += item;
  } while (AcceptOp(","));

  if (fromAt != std::string::npos) {
    if (pos_ != fromAt) return Fail();
    pos_ = afterFrom;
  }
  std::string sql = "SELECT ";
  if (distinct) sql += "DISTINCT ";
  sql += items;
  if (table_ != nullptr) sql += " FROM " + QuoteId(table_->sqliteName);
  if (AcceptWord("WHERE")) {
    Expr c;
    if (!ParseCondition(c)) return false;
    sql += " WHERE " + c.sql;
  }
  if (IsWord(Cur(), "GROUP") && IsWord(Peek(1), "BY")) {
    Advance();
    Advance();
    std::string list;
    do {
      Expr e;
      std::size_t at = pos_;
      if (!ParseExpr(e) || !RequireValue(e, at)) return false;
      if (!list.empty()) list += ", ";
      list += e.sql;
      if (e.type == T::Text && e.col == nullptr) list += " COLLATE TSQL";
    } while (AcceptOp(","));
    sql += " GROUP BY " + list;
  }
  if (AcceptWord("HAVING")) {
    Expr c;
    if (!ParseCondition(c)) return false;
    sql += " HAVING " + c.sql;
  }
  if (IsWord(Cur(), "ORDER") && IsWord(Peek(1), "BY")) {
    Advance();
    Advance();
    std::string list;
    do {
      std::string term;
      auto endsTerm = [&](const Token& t) {
        return IsOp(t, ",") || IsWord(t, "ASC") || IsWord(t, "DESC") || IsOp(t, ";") || t.kind == Tok::End;
      };
      if (Cur().kind == Tok::Integer && endsTerm(Peek(1))) {
        term = Cur().value;
        Advance();
      } else if ((Cur().kind == Tok::Ident || Cur().kind == Tok::QuotedIdent) && endsTerm(Peek(1)) && [&] {
                   std::string u = Upper(Cur().value);
                   for (const std::string& a : aliases) {
                     if (a == u) return true;
                   }
                   return false;
                 }()) {
        term = QuoteId(Cur().value);
        Advance();
      } else {
        Expr e;
        std::size_t at = pos_;
        if (!ParseExpr(e) || !RequireValue(e, at)) return false;
        term = e.sql;
        if (e.type == T::Text && e.col == nullptr) term += " COLLATE TSQL";
      }
      if (AcceptWord("DESC")) {
        term += " DESC";
      } else {
        AcceptWord("ASC");
      }
      if (!list.empty()) list += ", ";
      list += term;
    } while (AcceptOp(","));
    sql += " ORDER BY " + list;
  }
  if (!limit.empty()) sql += " LIMIT " + limit;
  out.sql = std::move(sql);
  out.kind = Kind::Select;
  return true;
}

// ---------------------------------------------------------------------------
// INSERT, UPDATE, DELETE

bool Parser::ParseInsert(Statement& out) {
  Advance();  // INSERT
  AcceptWord("INTO");
  const TableInfo* table = nullptr;
  if (!ParseTableRef(table, nullptr)) return false;
  std::vector<int> cols;
  if (AcceptOp("(")) {
    do {
      if (!IsName(Cur())) return Fail();
      std::vector<std::string> parts;
      std::string written;
      if (!ParseNameParts(parts, written)) return false;
      int idx = table->Find(parts.back());
      if (idx < 0) return Missing(InvalidColumn(parts.back()));
      for (int c : cols) {
        if (c == idx) {
          return Error_(MakeError(
              264, "42000",
              "The column name '" + parts.back() +
                  "' is specified more than once in the SET clause or column list of an INSERT. A column cannot be "
                  "assigned more than one value in the same clause. Modify the clause to make sure that a column is "
                  "updated only once. If this statement updates or inserts columns into a view, column aliasing can "
                  "conceal the duplication in your code."));
        }
      }
      cols.push_back(idx);
    } while (AcceptOp(","));
    if (!ExpectOp(")")) return false;
  } else {
    for (std::size_t i = 0; i < table->cols.size(); ++i) cols.push_back(static_cast<int>(i));
  }
  out.kind = Kind::Insert;
  out.write.schema = table->schema;
  out.write.table = table->name;
  if (IsWord(Cur(), "DEFAULT") && IsWord(Peek(1), "VALUES")) {
    Advance();
    Advance();
    out.sql = "INSERT INTO " + QuoteId(table->sqliteName) + " DEFAULT VALUES";
    out.write.rows.emplace_back(table->cols.size());
    return true;
  }
  if (!IsWord(Cur(), "VALUES")) return Fail();
  Advance();
  constantsOnly_ = true;
  std::vector<std::vector<std::string>> rows;
  do {
    if (!ExpectOp("(")) return false;
    std::vector<std::string> row(table->cols.size());
    std::size_t n = 0;
    do {
      std::size_t at = pos_;
      if (n >= cols.size()) {
        // Count the values to tell SQL Server's error.
        Expr skip;
        if (!ParseExpr(skip)) return false;
        ++n;
        continue;
      }
      const ColumnInfo& c = table->cols[static_cast<std::size_t>(cols[n])];
      if (IsWord(Cur(), "DEFAULT")) return Fail();
      Expr e;
      if (!ParseExpr(e)) return false;
      if (!Assign(c, e, at, row[static_cast<std::size_t>(cols[n])])) return false;
      ++n;
    } while (AcceptOp(","));
    if (!ExpectOp(")")) return false;
    if (n < cols.size()) {
      return Error_(MakeError(109, "21S01",
                              "There are more columns in the INSERT statement than values specified in the VALUES "
                              "clause. The number of values in the VALUES clause must match the number of columns "
                              "specified in the INSERT statement."));
    }
    if (n > cols.size()) {
      return Error_(MakeError(110, "21S01",
                              "There are fewer columns in the INSERT statement than values specified in the VALUES "
                              "clause. The number of values in the VALUES clause must match the number of columns "
                              "specified in the INSERT statement."));
    }
    rows.push_back(std::move(row));
  } while (AcceptOp(","));
  constantsOnly_ = false;

  std::string sql;
  sql.reserve(256 + text_.size());
  sql += "INSERT INTO ";
  sql += QuoteId(table->sqliteName);
  sql += " (";
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (i > 0) sql += ",";
    sql += QuoteId(table->cols[static_cast<std::size_t>(cols[i])].name);
  }
  sql += ") VALUES ";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) sql += ",";
    sql += "(";
    for (std::size_t i = 0; i < cols.size(); ++i) {
      if (i > 0) sql += ",";
      sql += rows[r][static_cast<std::size_t>(cols[i])];
    }
    sql += ")";
  }
  out.sql = std::move(sql);
  out.write.rows = std::move(rows);
  return true;
}

bool Parser::ParseUpdate(Statement& out) {
  Advance();  // UPDATE
  if (IsWord(Cur(), "TOP")) return Fail();
  if (!ParseTableRef(table_, nullptr)) return false;
  if (!ExpectWord("SET")) return false;
  std::vector<std::string> set(table_->cols.size());
  std::vector<bool> assigned(table_->cols.size(), false);
  std::string sql;
  sql.reserve(256 + text_.size());
  sql += "UPDATE ";
  sql += QuoteId(table_->sqliteName);
  sql += " SET ";
  bool first = true;
  do {
    if (!IsName(Cur())) return Fail();
    std::vector<std::string> parts;
    std::string written;
    if (!ParseNameParts(parts, written)) return false;
    Expr target;
    if (!ResolveColumn(parts, written, target)) return false;
    int idx = table_->Find(parts.back());
    if (assigned[static_cast<std::size_t>(idx)]) {
      return Error_(MakeError(
          264, "42000",
          "The column name '" + parts.back() +
              "' is specified more than once in the SET clause or column list of an INSERT. A column cannot be "
              "assigned more than one value in the same clause. Modify the clause to make sure that a column is "
              "updated only once. If this statement updates or inserts columns into a view, column aliasing can "
              "conceal the duplication in your code."));
    }
    assigned[static_cast<std::size_t>(idx)] = true;
    if (!ExpectOp("=")) return false;
    std::size_t at = pos_;
    Expr e;
    if (!ParseExpr(e)) return false;
    std::string value;
    if (!Assign(*target.col, e, at, value)) return false;
    if (!first) sql += ",";
    first = false;
    sql += target.sql;
    sql += "=";
    sql += value;
    set[static_cast<std::size_t>(idx)] = std::move(value);
  } while (AcceptOp(","));
  if (IsWord(Cur(), "FROM")) return Fail();
  std::string where;
  if (AcceptWord("WHERE")) {
    Expr c;
    if (!ParseCondition(c)) return false;
    where = std::move(c.sql);
    sql += " WHERE ";
    sql += where;
  }
  out.sql = std::move(sql);
  out.kind = Kind::Update;
  out.write.schema = table_->schema;
  out.write.table = table_->name;
  out.write.set = std::move(set);
  out.write.where = std::move(where);
  return true;
}

bool Parser::ParseDelete(Statement& out) {
  Advance();  // DELETE
  if (IsWord(Cur(), "TOP")) return Fail();
  AcceptWord("FROM");
  if (!ParseTableRef(table_, nullptr)) return false;
  std::string sql = "DELETE FROM " + QuoteId(table_->sqliteName);
  if (IsWord(Cur(), "FROM")) return Fail();
  if (AcceptWord("WHERE")) {
    Expr c;
    if (!ParseCondition(c)) return false;
    sql += " WHERE " + c.sql;
  }
  out.sql = std::move(sql);
  out.kind = Kind::Delete;
  return true;
}

bool Parser::ParseTruncate(Statement& out) {
  Advance();  // TRUNCATE
  if (!ExpectWord("TABLE")) return false;
  const TableInfo* table = nullptr;
  if (!ParseTableRef(table, nullptr)) return false;
  out.sql = "DELETE FROM " + QuoteId(table->sqliteName);
  out.kind = Kind::Other;
  return true;
}

}  // namespace tsql::translator
