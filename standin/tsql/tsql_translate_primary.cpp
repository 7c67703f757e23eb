// The translator's primary expressions: literals, column references,
// parentheses, CONVERT and CAST with their type names, and the built-in
// functions the tool calls.
#include <cmath>
#include <cstdlib>

#include "tsql_translate_parser.h"

namespace tsql::translator {

bool Parser::ParsePrimary(Expr& out) {
  const Token& t = Cur();
  switch (t.kind) {
    case Tok::String:
    case Tok::NString:
      out = ConstText(t.value);
      if (use_ != nullptr) {
        out.lit = use_->litAtToken[pos_];
        out.sql = ParamMark(out.lit);
        use_->param[static_cast<std::size_t>(out.lit)] = true;
      }
      Advance();
      return true;
    case Tok::Integer: {
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(t.value.c_str(), &end, 10);
      if (errno == ERANGE) {
        Value r;
        r.kind = T::Real;
        r.r = std::strtod(t.value.c_str(), nullptr);
        out = Const(std::move(r));
      } else {
        out = ConstInt(v);
      }
      Advance();
      return true;
    }
    case Tok::Decimal: {
      Value r;
      r.kind = T::Real;
      r.r = std::strtod(t.value.c_str(), nullptr);
      out = Const(std::move(r));
      Advance();
      return true;
    }
    case Tok::Op:
      if (IsOp(t, "(")) {
        Advance();
        if (IsWord(Cur(), "SELECT")) return Fail();
        Expr x;
        if (!ParseExpr(x)) return false;
        if (!ExpectOp(")")) return false;
        out = std::move(x);
        if (!out.isConst) {
          out.sql = "(" + out.sql + ")";
          out.col = nullptr;
        }
        return true;
      }
      return Fail();
    case Tok::Ident:
      if (IsWord(t, "NULL")) {
        out = ConstNull(T::Null);
        Advance();
        return true;
      }
      if (IsWord(t, "CURRENT_TIMESTAMP")) {
        Advance();
        out = Now();
        return true;
      }
      if (IsWord(t, "CONVERT")) return ParseConvert(out);
      if (IsWord(t, "CAST")) return ParseCast(out);
      if (IsOp(Peek(1), "(")) {
        std::size_t nameAt = pos_;
        std::string name = Upper(t.value);
        Advance();
        return ParseFunction(name, nameAt, out);
      }
      [[fallthrough]];
    case Tok::QuotedIdent: {
      std::vector<std::string> parts;
      std::string written;
      if (!ParseNameParts(parts, written)) return false;
      return ResolveColumn(parts, written, out);
    }
    default: return Fail();
  }
}

bool Parser::ParseTypeName(TypeName& ts, bool forDdl, int column) {
  if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
  std::string name = Upper(Cur().value);
  std::string written = Cur().value;
  if (name == "VARCHAR")
    ts.type = ColType::VarChar;
  else if (name == "CHAR" || name == "CHARACTER")
    ts.type = ColType::Char;
  else if (name == "NVARCHAR")
    ts.type = ColType::NVarChar;
  else if (name == "NCHAR")
    ts.type = ColType::NChar;
  else if (name == "INT" || name == "INTEGER")
    ts.type = ColType::Int;
  else if (name == "SMALLINT")
    ts.type = ColType::SmallInt;
  else if (name == "BIGINT")
    ts.type = ColType::BigInt;
  else if (name == "TINYINT")
    ts.type = ColType::TinyInt;
  else if (name == "BIT")
    ts.type = ColType::Bit;
  else if (name == "DATETIME")
    ts.type = ColType::DateTime;
  else if (forDdl) {
    return Error_(MakeError(
        2715, "42000",
        "Column, parameter, or variable #" + std::to_string(column) + ": Cannot find data type " + written + "."));
  } else {
    return Error_(MakeError(243, "42000", "Type " + written + " is not a defined system type."));
  }
  Advance();
  ts.hasLength = false;
  ts.length = -1;
  if (IsTextType(ts.type)) {
    if (AcceptOp("(")) {
      if (AcceptWord("MAX")) {
        ts.length = -1;
      } else if (Cur().kind == Tok::Integer) {
        long n = std::strtol(Cur().value.c_str(), nullptr, 10);
        long limit = (ts.type == ColType::NChar || ts.type == ColType::NVarChar) ? 4000 : 8000;
        if (n == 0) {
          return Error_(MakeError(1001, "42000", "Line 1: Length or precision 0 is invalid."));
        }
        if (n > limit || Cur().value.size() > 9) {
          return Error_(MakeError(131, "42000",
                                  "The size (" + Cur().value + ") given to the type '" + Upper(written) +
                                      "' exceeds the maximum allowed for any data type (" + std::to_string(limit) +
                                      ")."));
        }
        ts.length = n;
        Advance();
      } else {
        return Fail();
      }
      if (!ExpectOp(")")) return false;
      ts.hasLength = true;
    } else if (forDdl) {
      ts.length = 1;
      ts.hasLength = true;
    }
  }
  return true;
}

bool Parser::ParseConvert(Expr& out) {
  Advance();  // CONVERT
  if (!ExpectOp("(")) return false;
  TypeName ts;
  if (!ParseTypeName(ts, false, 0)) return false;
  if (!ExpectOp(",")) return false;
  Expr e;
  std::size_t at = pos_;
  if (!ParseExpr(e) || !RequireValue(e, at)) return false;
  int style = -1;
  if (AcceptOp(",")) {
    std::size_t sAt = pos_;
    Expr s;
    if (!ParseAdditive(s)) return false;
    if (!s.isConst || s.type != T::Int || Val(s).i < 0 || Val(s).i > 1000) return FailAt(sAt);
    style = static_cast<int>(Val(s).i);
  }
  if (!ExpectOp(")")) return false;
  return ConvertTo(ts, e, style, out);
}

bool Parser::ParseCast(Expr& out) {
  Advance();  // CAST
  if (!ExpectOp("(")) return false;
  Expr e;
  std::size_t at = pos_;
  if (!ParseExpr(e) || !RequireValue(e, at)) return false;
  if (!ExpectWord("AS")) return false;
  TypeName ts;
  if (!ParseTypeName(ts, false, 0)) return false;
  if (!ExpectOp(")")) return false;
  return ConvertTo(ts, e, -1, out);
}

bool Parser::ParseFunction(const std::string& name, std::size_t nameAt, Expr& out) {
  Advance();  // (
  // Aggregates.
  if (name == "COUNT" || name == "MIN" || name == "MAX" || name == "SUM" || name == "AVG") {
    if (name == "COUNT" && AcceptOp("*")) {
      if (!ExpectOp(")")) return false;
      out = Runtime("count(*)", T::Int);
      return true;
    }
    bool distinct = AcceptWord("DISTINCT");
    if (!distinct) AcceptWord("ALL");
    Expr arg;
    std::size_t at = pos_;
    if (!ParseExpr(arg) || !RequireValue(arg, at)) return false;
    if (!ExpectOp(")")) return false;
    std::string inner = (distinct ? "DISTINCT " : "") + arg.sql;
    if (arg.type == T::Text && arg.col == nullptr) inner += " COLLATE TSQL";
    if (name == "COUNT") {
      out = Runtime("count(" + inner + ")", T::Int);
    } else if (name == "AVG") {
      out = arg.type == T::Int ? Runtime("CAST(avg(" + inner + ") AS INTEGER)", T::Int)
                               : Runtime("avg(" + inner + ")", T::Real);
    } else {
      std::string fn = name == "MIN" ? "min" : name == "MAX" ? "max" : "sum";
      out = Runtime(fn + "(" + inner + ")", arg.type);
    }
    return true;
  }
  std::vector<Expr> args;
  if (!IsOp(Cur(), ")")) {
    do {
      Expr a;
      std::size_t at = pos_;
      if (!ParseExpr(a) || !RequireValue(a, at)) return false;
      args.push_back(std::move(a));
    } while (AcceptOp(","));
  }
  if (!ExpectOp(")")) return false;
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  auto arity = [&](std::size_t n) {
    if (args.size() == n) return true;
    return Error_(
        MakeError(174, "42000", "The " + lower + " function requires " + std::to_string(n) + " argument(s)."));
  };
  auto asText = [&](const Expr& e) {
    return e.type == T::Text || e.type == T::Null ? e.sql : "tsql_str(" + e.sql + ",-1,0)";
  };

  if (name == "GETDATE" || name == "SYSDATETIME") {
    if (!arity(0)) return false;
    out = Now();
    return true;
  }
  if (name == "GETUTCDATE") {
    if (!arity(0)) return false;
    DateTime utc;
    if (!UtcNow(utc)) utc = now_;
    if (use_ != nullptr) use_->uncacheable = true;  // a time, not a parameter
    out = ConstDateTime(utc);
    return true;
  }
  if (name == "NULLIF") {
    if (!arity(2)) return false;
    Expr a = args[0], b = args[1];
    bool collate = false;
    CoercePair(a, b, collate);
    if (a.type == T::Null) {
      out = ConstNull(T::Null);
    } else if (a.isConst && b.isConst) {
      bool equal = false;
      if (b.type == T::Null) {
        equal = false;
      } else if (a.type == T::Text && b.type == T::Text) {
        equal = TextEquals(a, Val(b).s);
      } else if (a.type == T::DateTime && b.type == T::DateTime) {
        equal = Val(a).s == Val(b).s;
      } else if (IsNumeric(a.type) && IsNumeric(b.type)) {
        double x = a.type == T::Int ? static_cast<double>(Val(a).i) : Val(a).r;
        double y = b.type == T::Int ? static_cast<double>(Val(b).i) : Val(b).r;
        equal = x == y;
      } else {
        out = Runtime("tsql_nullif(" + a.sql + "," + b.sql + ")", args[0].type);
        return true;
      }
      out = equal ? ConstNull(args[0].type) : a;
    } else {
      out = Runtime("tsql_nullif(" + a.sql + "," + b.sql + ")", a.type);
    }
    return true;
  }
  if (name == "ISNULL" || name == "COALESCE") {
    if (name == "ISNULL" && !arity(2)) return false;
    if (args.empty()) return FailAt(nameAt);
    T type = T::Null;
    std::string list;
    for (const Expr& a : args) {
      if (type == T::Null) type = a.type;
      if (!list.empty()) list += ",";
      list += a.sql;
    }
    out = Runtime("coalesce(" + list + (args.size() == 1 ? ",NULL" : "") + ")", type);
    return true;
  }
  if (name == "RTRIM" || name == "LTRIM" || name == "UPPER" || name == "LOWER" || name == "LEN") {
    if (!arity(1)) return false;
    const Expr& a = args[0];
    if (a.type == T::Null) {
      out = ConstNull(name == "LEN" ? T::Int : T::Text);
      return true;
    }
    if (name == "RTRIM" && a.isConst && a.type == T::Text && TextTrimmed(a)) {
      out = a;  // nothing to trim: the literal stays what it is
      return true;
    }
    if (a.isConst && (a.type == T::Text || IsNumeric(a.type))) {
      std::string s = a.type == T::Text ? Val(a).s : NumberText(Val(a));
      if (name == "RTRIM")
        out = ConstText(std::string(RTrimText(s)));
      else if (name == "LTRIM")
        out = ConstText(std::string(LTrimText(s)));
      else if (name == "UPPER")
        out = ConstText(UpperText(s));
      else if (name == "LOWER")
        out = ConstText(LowerText(s));
      else
        out = ConstInt(static_cast<int64_t>(CharCount(RTrimText(s))));
      return true;
    }
    std::string arg = a.type == T::DateTime ? "tsql_dtstr(" + a.sql + ",0,30,0)" : asText(a);
    if (name == "RTRIM")
      out = Runtime("rtrim(" + arg + ",' ')", T::Text);
    else if (name == "LTRIM")
      out = Runtime("ltrim(" + arg + ",' ')", T::Text);
    else if (name == "UPPER")
      out = Runtime("tsql_upper(" + arg + ")", T::Text);
    else if (name == "LOWER")
      out = Runtime("tsql_lower(" + arg + ")", T::Text);
    else
      out = Runtime("tsql_len(" + arg + ")", T::Int);
    return true;
  }
  if (name == "SUBSTRING") {
    if (!arity(3)) return false;
    out = Runtime("tsql_substring(" + asText(args[0]) + "," + args[1].sql + "," + args[2].sql + ")", T::Text);
    return true;
  }
  if (name == "LEFT") {
    if (!arity(2)) return false;
    out = Runtime("tsql_substring(" + asText(args[0]) + ",1," + args[1].sql + ")", T::Text);
    return true;
  }
  if (name == "RIGHT") {
    if (!arity(2)) return false;
    out = Runtime("tsql_right(" + asText(args[0]) + "," + args[1].sql + ")", T::Text);
    return true;
  }
  if (name == "ABS") {
    if (!arity(1)) return false;
    out = Runtime("abs(" + args[0].sql + ")", args[0].type);
    return true;
  }
  return Error_(MakeError(195, "42000", "'" + TokenText(t_[nameAt]) + "' is not a recognized built-in function name."));
}

}  // namespace tsql::translator
