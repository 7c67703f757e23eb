// The translator's expressions: conversions of an expression to a type
// (CONVERT, a value stored into a column) and the operators, each folded
// when its operands are constants.
#include <cmath>
#include <cstdlib>

#include "tsql_translate_parser.h"

namespace tsql::translator {

// ---------------------------------------------------------------------------
// conversions

Expr Parser::ToDateTime(const Expr& e, int style) {
  if (e.type == T::DateTime) return e;
  if (e.type == T::Null) return ConstNull(T::DateTime);
  if (e.isConst) {
    DateTime dt;
    Error ignored;
    if (e.type == T::Text && ParseDateTime(Val(e).s, style, dt, ignored)) return ConstDateTime(dt);
    if (IsNumeric(e.type) && AddDays(dt, e.type == T::Int ? static_cast<double>(Val(e).i) : Val(e).r)) {
      return ConstDateTime(dt);
    }
  }
  return Runtime("tsql_dt(" + e.sql + "," + std::to_string(style) + ")", T::DateTime);
}

Expr Parser::ToInt(const Expr& e, IntKind kind) {
  if (e.type == T::Null) return ConstNull(T::Int);
  if (e.isConst) {
    int64_t v = 0;
    Error ignored;
    if (e.type == T::Int && FitInt(Val(e).i, kind, v, ignored)) return ConstInt(v);
    if (e.type == T::Text && ParseInt(Val(e).s, kind, v, ignored)) return ConstInt(v);
  }
  return Runtime("tsql_int(" + e.sql + "," + std::to_string(static_cast<int>(kind)) + ")", T::Int);
}

bool Parser::ConvertTo(const TypeName& ts, const Expr& e, int style, Expr& out) {
  if (IsTextType(ts.type)) {
    long n = ts.hasLength ? ts.length : 30;
    bool pad = ts.type == ColType::Char || ts.type == ColType::NChar;
    std::string tail = "," + std::to_string(n) + "," + (pad ? "1" : "0") + ")";
    if (e.type == T::Null) {
      out = ConstNull(T::Text);
    } else if (e.type == T::DateTime) {
      int st = style < 0 ? 0 : style;
      std::string text;
      Error styleErr;
      if (!FormatDateTime(DateTime(), st, text, styleErr)) return Error_(styleErr);
      DateTime dt;
      if (e.isConst && ParseCanonical(Val(e).s, dt) && FormatDateTime(dt, st, text, styleErr)) {
        out = ConstText(FitText(text, n, pad));
      } else {
        out = Runtime("tsql_dtstr(" + e.sql + "," + std::to_string(st) + tail, T::Text);
      }
    } else if (e.isConst && e.type == T::Text) {
      out = ConstText(FitText(Val(e).s, n, pad));
    } else if (e.isConst && IsNumeric(e.type)) {
      std::string s = NumberText(Val(e));
      if (n >= 0 && s.size() > static_cast<std::size_t>(n)) s = "*";
      out = ConstText(FitText(s, n, pad));
    } else {
      out = Runtime("tsql_str(" + e.sql + tail, T::Text);
    }
    return true;
  }
  if (ts.type == ColType::DateTime) {
    out = ToDateTime(e, style);
    return true;
  }
  if (ts.type == ColType::Int || ts.type == ColType::SmallInt || ts.type == ColType::BigInt ||
      ts.type == ColType::TinyInt || ts.type == ColType::Bit) {
    out = ToInt(e, IntKindOf(ts.type));
    return true;
  }
  return Fail();
}

bool Parser::Assign(const ColumnInfo& c, const Expr& e, std::size_t at, std::string& sql) {
  if (!RequireValue(e, at)) return false;
  if (e.type == T::Null) {
    sql = "NULL";
    return true;
  }
  if (c.IsText()) {
    std::string tail = "," + std::to_string(c.length) + "," + (c.Padded() ? "1" : "0") + ")";
    if (e.isConst && e.type == T::Text && !c.Padded() && (c.length < 0 || TextFits(e, c.length))) {
      sql = e.sql;  // fits as it is (no more bytes than characters allowed)
      return true;
    }
    if (e.isConst && (e.type == T::Text || IsNumeric(e.type) || e.type == T::DateTime)) {
      std::string text;
      Error ignored;
      if (e.type == T::Text) {
        text = Val(e).s;
      } else if (e.type == T::DateTime) {
        DateTime dt;
        if (!ParseCanonical(Val(e).s, dt) || !FormatDateTime(dt, 0, text, ignored)) text = Val(e).s;
      } else {
        text = NumberText(Val(e));
        if (c.length >= 0 && text.size() > static_cast<std::size_t>(c.length)) {
          sql = "tsql_store(" + e.sql + tail;  // fails when the statement runs
          return true;
        }
      }
      std::string stored;
      if (StoreText(text, c.length, c.Padded(), stored, ignored)) {
        sql = TextLiteral(stored);
      } else {
        sql = "tsql_store(" + TextLiteral(text) + tail;
      }
      return true;
    }
    if (e.type == T::DateTime) {
      sql = "tsql_store(tsql_dtstr(" + e.sql + ",0,30,0)" + tail;
    } else {
      sql = "tsql_store(" + e.sql + tail;
    }
    return true;
  }
  if (c.IsInt()) {
    if (e.type == T::DateTime) {
      return Error_(MakeError(257, "42000",
                              std::string("Implicit conversion from data type datetime to ") +
                                  IntKindName(IntKindOf(c.type)) +
                                  " is not allowed. Use the CONVERT function to run "
                                  "this query."));
    }
    if (e.type == T::Int && e.col != nullptr && e.col->type == c.type) {
      sql = e.sql;
      return true;
    }
    sql = ToInt(e, IntKindOf(c.type)).sql;
    return true;
  }
  if (c.type == ColType::DateTime) {
    sql = ToDateTime(e, -1).sql;
    return true;
  }
  sql = e.sql;
  return true;
}

// ---------------------------------------------------------------------------
// expressions

bool Parser::ParseCondition(Expr& out) {
  std::size_t at = pos_;
  if (!ParseExpr(out)) return false;
  return RequireBool(out, at);
}

bool Parser::ParseExpr(Expr& out) {
  Nest nest(*this);
  if (TooDeep()) return false;
  std::size_t at = pos_;
  if (!ParseAnd(out)) return false;
  while (IsWord(Cur(), "OR")) {
    Advance();
    Expr r;
    if (!RequireBool(out, at)) return false;
    std::size_t rAt = pos_;
    if (!ParseAnd(r)) return false;
    if (!RequireBool(r, rAt)) return false;
    out = Runtime("(" + out.sql + " OR " + r.sql + ")", T::Bool);
  }
  return true;
}

bool Parser::ParseAnd(Expr& out) {
  std::size_t at = pos_;
  if (!ParseNot(out)) return false;
  while (IsWord(Cur(), "AND")) {
    Advance();
    if (!RequireBool(out, at)) return false;
    Expr r;
    std::size_t rAt = pos_;
    if (!ParseNot(r)) return false;
    if (!RequireBool(r, rAt)) return false;
    out = Runtime("(" + out.sql + " AND " + r.sql + ")", T::Bool);
  }
  return true;
}

bool Parser::ParseNot(Expr& out) {
  if (IsWord(Cur(), "NOT")) {
    Advance();
    Nest nest(*this);
    if (TooDeep()) return false;
    std::size_t at = pos_;
    Expr x;
    if (!ParseNot(x)) return false;
    if (!RequireBool(x, at)) return false;
    out = Runtime("(NOT " + x.sql + ")", T::Bool);
    return true;
  }
  return ParsePredicate(out);
}

bool Parser::ParsePredicate(Expr& out) {
  if (IsWord(Cur(), "EXISTS")) return Fail();
  Expr l;
  if (!ParseAdditive(l)) return false;
  const Token& t = Cur();
  static const char* const kCompare[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
  for (const char* op : kCompare) {
    if (IsOp(t, op)) {
      std::size_t opAt = pos_;
      if (!RequireValue(l, opAt)) return false;
      Advance();
      std::size_t rAt = pos_;
      Expr r;
      if (!ParseAdditive(r)) return false;
      if (!RequireValue(r, rAt)) return false;
      return Compare(std::move(l), op, std::move(r), out);
    }
  }
  if (IsWord(t, "IS")) {
    if (!RequireValue(l, pos_)) return false;
    Advance();
    bool negated = AcceptWord("NOT");
    if (!ExpectWord("NULL")) return false;
    out = Runtime("(" + l.sql + (negated ? " IS NOT NULL)" : " IS NULL)"), T::Bool);
    return true;
  }
  bool negated = false;
  if (IsWord(t, "NOT") && (IsWord(Peek(1), "LIKE") || IsWord(Peek(1), "IN") || IsWord(Peek(1), "BETWEEN"))) {
    negated = true;
    Advance();
  }
  const char* neg = negated ? " NOT" : "";
  if (IsWord(Cur(), "LIKE")) {
    if (!RequireValue(l, pos_)) return false;
    Advance();
    Expr pattern;
    std::size_t pAt = pos_;
    if (!ParseAdditive(pattern) || !RequireValue(pattern, pAt)) return false;
    std::string sql = "(" + l.sql + neg + " LIKE " + pattern.sql;
    if (AcceptWord("ESCAPE")) {
      Expr esc;
      std::size_t eAt = pos_;
      if (!ParseAdditive(esc) || !RequireValue(esc, eAt)) return false;
      sql += " ESCAPE " + esc.sql;
    }
    out = Runtime(sql + ")", T::Bool);
    return true;
  }
  if (IsWord(Cur(), "IN")) {
    if (!RequireValue(l, pos_)) return false;
    Advance();
    if (!ExpectOp("(")) return false;
    if (IsWord(Cur(), "SELECT")) return Fail();
    std::string items;
    bool collate = false;
    do {
      Expr item;
      std::size_t iAt = pos_;
      if (!ParseAdditive(item) || !RequireValue(item, iAt)) return false;
      Expr left = l;
      bool c = false;
      CoercePair(left, item, c);
      collate = collate || c;
      if (!items.empty()) items += ",";
      items += item.sql;
    } while (AcceptOp(","));
    if (!ExpectOp(")")) return false;
    out = Runtime("(" + l.sql + (collate ? " COLLATE TSQL" : "") + neg + " IN (" + items + "))", T::Bool);
    return true;
  }
  if (IsWord(Cur(), "BETWEEN")) {
    if (!RequireValue(l, pos_)) return false;
    Advance();
    Expr lo, hi;
    std::size_t loAt = pos_;
    if (!ParseAdditive(lo) || !RequireValue(lo, loAt)) return false;
    if (!ExpectWord("AND")) return false;
    std::size_t hiAt = pos_;
    if (!ParseAdditive(hi) || !RequireValue(hi, hiAt)) return false;
    Expr l1 = l, l2 = l;
    bool c1 = false, c2 = false;
    CoercePair(l1, lo, c1);
    CoercePair(l2, hi, c2);
    out =
        Runtime("(" + l1.sql + (c1 || c2 ? " COLLATE TSQL" : "") + neg + " BETWEEN " + lo.sql + " AND " + hi.sql + ")",
                T::Bool);
    return true;
  }
  if (negated) return Fail();
  out = std::move(l);
  return true;
}

void Parser::CoercePair(Expr& l, Expr& r, bool& collate) {
  collate = false;
  if (l.type == T::Null || r.type == T::Null) return;
  if (l.type == T::DateTime && r.type != T::DateTime) {
    r = ToDateTime(r, -1);
  } else if (r.type == T::DateTime && l.type != T::DateTime) {
    l = ToDateTime(l, -1);
  } else if (l.type == T::Int && r.type == T::Text) {
    r = ToInt(r, l.col != nullptr && l.col->type == ColType::BigInt ? IntKind::BigInt : IntKind::Int);
  } else if (r.type == T::Int && l.type == T::Text) {
    l = ToInt(l, r.col != nullptr && r.col->type == ColType::BigInt ? IntKind::BigInt : IntKind::Int);
  } else if ((l.type == T::Real && r.type == T::Text) || (r.type == T::Real && l.type == T::Text)) {
    Expr& t = l.type == T::Text ? l : r;
    t = Runtime("CAST(" + t.sql + " AS REAL)", T::Real);
  } else if (l.type == T::Text || r.type == T::Text) {
    collate = l.type != T::Int && r.type != T::Int && l.type != T::Real && r.type != T::Real;
  }
}

bool Parser::Compare(Expr l, const std::string& op, Expr r, Expr& out) {
  bool collate = false;
  CoercePair(l, r, collate);
  // A text column made by the translator carries the collation itself, and
  // SQLite takes the left column's (or else the right one's).
  if (collate && ((l.col != nullptr && l.col->collated) || (l.col == nullptr && r.col != nullptr && r.col->collated))) {
    collate = false;
  }
  std::string sqlOp = op;
  if (op == "!=") sqlOp = "<>";
  if (op == "!<") sqlOp = ">=";
  if (op == "!>") sqlOp = "<=";
  std::string sql;
  sql.reserve(l.sql.size() + r.sql.size() + 20);
  sql += "(";
  sql += l.sql;
  sql += " ";
  sql += sqlOp;
  sql += " ";
  sql += r.sql;
  if (collate) sql += " COLLATE TSQL";
  sql += ")";
  out = Runtime(std::move(sql), T::Bool);
  return true;
}

bool Parser::Plus(Expr& l, Expr& r, Expr& out) {
  if (l.type == T::Null || r.type == T::Null) {
    out = ConstNull(l.type == T::Null ? r.type : l.type);
    return true;
  }
  if (l.type == T::Text && r.type == T::Text) {
    if (l.isConst && r.isConst) {
      out = ConstText(Val(l).s + Val(r).s);
    } else {
      out = Runtime("(" + l.sql + " || " + r.sql + ")", T::Text);
    }
    return true;
  }
  if (l.type == T::DateTime && IsNumeric(r.type)) {
    out = Runtime("tsql_dtadd(" + l.sql + "," + r.sql + ")", T::DateTime);
    return true;
  }
  if (r.type == T::DateTime && IsNumeric(l.type)) {
    out = Runtime("tsql_dtadd(" + r.sql + "," + l.sql + ")", T::DateTime);
    return true;
  }
  if ((IsNumeric(l.type) || l.type == T::Text) && (IsNumeric(r.type) || r.type == T::Text)) {
    return Arithmetic(l, "+", r, out);
  }
  out = Runtime("tsql_plus(" + l.sql + "," + r.sql + ")", T::Unknown);
  return true;
}

bool Parser::Arithmetic(Expr& l, const std::string& op, Expr& r, Expr& out) {
  if (l.type == T::Null || r.type == T::Null) {
    out = ConstNull(IsNumeric(l.type) ? l.type : r.type);
    return true;
  }
  if (l.type == T::DateTime && op == "-" && IsNumeric(r.type)) {
    out = Runtime("tsql_dtadd(" + l.sql + ",-(" + r.sql + "))", T::DateTime);
    return true;
  }
  // Text operands are converted to int, the type of higher precedence.
  Expr a = l.type == T::Text ? ToInt(l, IntKind::Int) : l;
  Expr b = r.type == T::Text ? ToInt(r, IntKind::Int) : r;
  T type = (a.type == T::Real || b.type == T::Real) ? T::Real
           : (a.type == T::Int && b.type == T::Int) ? T::Int
                                                    : T::Unknown;
  if (a.isConst && b.isConst && type == T::Int) {
    int64_t x = Val(a).i, y = Val(b).i, v = 0;
    bool ok = true;
    if (op == "+")
      ok = !__builtin_add_overflow(x, y, &v);
    else if (op == "-")
      ok = !__builtin_sub_overflow(x, y, &v);
    else if (op == "*")
      ok = !__builtin_mul_overflow(x, y, &v);
    else if (op == "/")
      ok = y != 0 && !(x == INT64_MIN && y == -1) && ((v = x / y), true);
    else if (op == "%")
      ok = y != 0 && !(x == INT64_MIN && y == -1) && ((v = x % y), true);
    if (ok) {
      out = ConstInt(v);
      return true;
    }
  }
  if (a.isConst && b.isConst && type == T::Real) {
    double x = a.type == T::Int ? static_cast<double>(Val(a).i) : Val(a).r;
    double y = b.type == T::Int ? static_cast<double>(Val(b).i) : Val(b).r;
    Value v;
    v.kind = T::Real;
    bool ok = true;
    if (op == "+")
      v.r = x + y;
    else if (op == "-")
      v.r = x - y;
    else if (op == "*")
      v.r = x * y;
    else if (op == "/")
      ok = y != 0 && ((v.r = x / y), true);
    else
      ok = false;
    if (ok) {
      out = Const(std::move(v));
      return true;
    }
  }
  out = Runtime("(" + a.sql + " " + op + " " + b.sql + ")", type);
  return true;
}

bool Parser::ParseAdditive(Expr& out) {
  if (!ParseMultiplicative(out)) return false;
  while (IsOp(Cur(), "+") || IsOp(Cur(), "-")) {
    std::string op = Cur().value;
    std::size_t opAt = pos_;
    if (!RequireValue(out, opAt)) return false;
    Advance();
    Expr r;
    std::size_t rAt = pos_;
    if (!ParseMultiplicative(r) || !RequireValue(r, rAt)) return false;
    Expr res;
    if (op == "+") {
      if (!Plus(out, r, res)) return false;
    } else {
      if (!Arithmetic(out, op, r, res)) return false;
    }
    out = std::move(res);
  }
  return true;
}

bool Parser::ParseMultiplicative(Expr& out) {
  if (!ParseUnary(out)) return false;
  while (IsOp(Cur(), "*") || IsOp(Cur(), "/") || IsOp(Cur(), "%")) {
    std::string op = Cur().value;
    if (!RequireValue(out, pos_)) return false;
    Advance();
    Expr r;
    std::size_t rAt = pos_;
    if (!ParseUnary(r) || !RequireValue(r, rAt)) return false;
    Expr res;
    if (!Arithmetic(out, op, r, res)) return false;
    out = std::move(res);
  }
  return true;
}

bool Parser::ParseUnary(Expr& out) {
  if (IsOp(Cur(), "-") || IsOp(Cur(), "+")) {
    bool minus = IsOp(Cur(), "-");
    Advance();
    Nest nest(*this);
    if (TooDeep()) return false;
    std::size_t at = pos_;
    Expr x;
    if (!ParseUnary(x) || !RequireValue(x, at)) return false;
    if (!minus) {
      out = std::move(x);
      return true;
    }
    if (x.isConst && x.type == T::Int && Val(x).i != INT64_MIN) {
      out = ConstInt(-Val(x).i);
    } else if (x.isConst && x.type == T::Real) {
      Value v;
      v.kind = T::Real;
      v.r = -Val(x).r;
      out = Const(std::move(v));
    } else {
      Expr n = x.type == T::Text ? ToInt(x, IntKind::Int) : x;
      out = Runtime("(-" + n.sql + ")", n.type == T::Real ? T::Real : T::Int);
    }
    return true;
  }
  return ParsePrimary(out);
}

}  // namespace tsql::translator
