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
//   CREATE [UNIQUE] INDEX i ON t (cols)    DROP TABLE|INDEX|SCHEMA
//   ALTER TABLE t ADD coldef | DROP COLUMN c
//   SET option ..., USE db (ignored)       BEGIN TRAN, COMMIT, ROLLBACK
#include "tsql_translate.h"

#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "tsql_values.h"

namespace tsql {

namespace {

// SQL Server's type of an expression as far as the translation needs it.
enum class T { Null, Int, Real, Text, DateTime, Bool, Unknown };

struct Value {
  T kind = T::Null;
  int64_t i = 0;
  double r = 0;
  std::string s;  // Text, or DateTime in the stored form
};

struct Expr {
  std::string sql;
  T type = T::Unknown;
  bool isConst = false;
  Value val;
  const ColumnInfo* col = nullptr;  // a plain column reference
  bool isNow = false;               // CURRENT_TIMESTAMP / GETDATE()
};

struct TypeName {
  ColType type = ColType::Other;
  long length = -1;
  bool hasLength = false;
};

const char kNowDefaultSql[] = "(strftime('%Y-%m-%d %H:%M:%f','now','localtime'))";

const std::unordered_set<std::string_view>& Reserved() {
  static const auto* words = new std::unordered_set<std::string_view>{
      "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BEGIN", "BETWEEN", "BY", "CASE",
      "CHECK", "COLLATE", "COLUMN", "COMMIT", "CONSTRAINT", "CONVERT", "CREATE", "CROSS", "CURRENT_TIMESTAMP",
      "DEFAULT", "DELETE", "DESC", "DISTINCT", "DROP", "ELSE", "END", "ESCAPE", "EXCEPT", "EXEC", "EXECUTE",
      "EXISTS", "FOREIGN", "FROM", "FULL", "GROUP", "HAVING", "IDENTITY", "IF", "IN", "INDEX", "INNER", "INSERT",
      "INTERSECT", "INTO", "IS", "JOIN", "KEY", "LEFT", "LIKE", "NOT", "NULL", "NULLIF", "OF", "ON", "OPTION",
      "OR", "ORDER", "OUTER", "PERCENT", "PRIMARY", "REFERENCES", "RIGHT", "ROLLBACK", "SELECT", "SET", "TABLE",
      "THEN", "TOP", "TRAN", "TRANSACTION", "TRUNCATE", "UNION", "UNIQUE", "UPDATE", "USE", "VALUES", "WHEN",
      "WHERE", "WITH"};
  return *words;
}

bool IsReserved(const Token& t) {
  if (t.kind != Tok::Ident || t.value.size() > 20) return false;
  char upper[20];
  for (std::size_t i = 0; i < t.value.size(); ++i) {
    char c = t.value[i];
    upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  return Reserved().count(std::string_view(upper, t.value.size())) != 0;
}

bool IsName(const Token& t) { return t.kind == Tok::QuotedIdent || (t.kind == Tok::Ident && !IsReserved(t)); }

std::string TextLiteral(std::string_view s) {
  if (std::memchr(s.data(), '\0', s.size()) != nullptr) {
    // SQLite ends a statement text at a NUL byte: spell such a text in hex.
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "CAST(X'";
    for (char c : s) {
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[static_cast<unsigned char>(c) & 15];
    }
    out += "' AS TEXT)";
    return out;
  }
  std::string out;
  out.reserve(s.size() + 8);
  out += '\'';
  for (;;) {
    std::size_t quote = s.find('\'');
    if (quote == std::string_view::npos) break;
    out.append(s.substr(0, quote + 1));
    out += '\'';
    s.remove_prefix(quote + 1);
  }
  out.append(s);
  out += '\'';
  return out;
}

std::string RealLiteral(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  std::string s = buf;
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

std::string Literal(const Value& v) {
  switch (v.kind) {
    case T::Null: return "NULL";
    case T::Int: return std::to_string(v.i);
    case T::Real: return RealLiteral(v.r);
    case T::Text:
    case T::DateTime: return TextLiteral(v.s);
    default: return "NULL";
  }
}

Expr Const(Value v) {
  Expr e;
  e.type = v.kind;
  e.isConst = true;
  e.sql = Literal(v);
  e.val = std::move(v);
  return e;
}

Expr ConstText(std::string s) {
  Value v;
  v.kind = T::Text;
  v.s = std::move(s);
  return Const(std::move(v));
}

Expr ConstInt(int64_t i) {
  Value v;
  v.kind = T::Int;
  v.i = i;
  return Const(std::move(v));
}

// NULL keeps the type Null whatever its context: every rule that tests
// for T::Null (stores, '+', NULLIF) must see it.
Expr ConstNull(T) { return Const(Value()); }

Expr ConstDateTime(const DateTime& dt) {
  Value v;
  v.kind = T::DateTime;
  v.s = Canonical(dt);
  return Const(std::move(v));
}

Expr Runtime(std::string sql, T type) {
  Expr e;
  e.sql = std::move(sql);
  e.type = type;
  return e;
}

bool ClockNow(bool local, DateTime& dt) {
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
  struct tm tm;
  if ((local ? localtime_r(&ts.tv_sec, &tm) : gmtime_r(&ts.tv_sec, &tm)) == nullptr) return false;
  dt.year = tm.tm_year + 1900;
  dt.month = tm.tm_mon + 1;
  dt.day = tm.tm_mday;
  dt.hour = tm.tm_hour;
  dt.minute = tm.tm_min;
  dt.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  dt.millis = static_cast<int>(ts.tv_nsec / 1000000);
  return RoundToTicks(dt);
}
bool LocalNow(DateTime& dt) { return ClockNow(true, dt); }
bool UtcNow(DateTime& dt) { return ClockNow(false, dt); }

bool IsNumeric(T t) { return t == T::Int || t == T::Real; }

T TypeOfColumn(const ColumnInfo& c) {
  if (c.IsText()) return T::Text;
  if (c.IsInt()) return T::Int;
  if (c.type == ColType::DateTime) return T::DateTime;
  return T::Unknown;
}

bool IsTextTypeOf(ColType t) {
  return t == ColType::Char || t == ColType::VarChar || t == ColType::NChar || t == ColType::NVarChar;
}

IntKind IntKindOf(ColType t) {
  switch (t) {
    case ColType::SmallInt: return IntKind::SmallInt;
    case ColType::BigInt: return IntKind::BigInt;
    case ColType::TinyInt: return IntKind::TinyInt;
    case ColType::Bit: return IntKind::Bit;
    default: return IntKind::Int;
  }
}

// The declared type of a SQLite column: SQL Server's name, which the
// catalog reads back. SQLite takes no "(max)": a text type without length
// is one of unlimited length.
std::string DeclaredType(ColType t, long length) {
  if (length < 0 && IsTextTypeOf(t)) {
    return t == ColType::Char ? "char" : t == ColType::VarChar ? "varchar" : t == ColType::NChar ? "nchar" : "nvarchar";
  }
  std::string len = std::to_string(length);
  switch (t) {
    case ColType::Char: return "char(" + len + ")";
    case ColType::VarChar: return "varchar(" + len + ")";
    case ColType::NChar: return "nchar(" + len + ")";
    case ColType::NVarChar: return "nvarchar(" + len + ")";
    case ColType::Int: return "int";
    case ColType::SmallInt: return "smallint";
    case ColType::BigInt: return "bigint";
    case ColType::TinyInt: return "tinyint";
    case ColType::Bit: return "bit";
    case ColType::DateTime: return "datetime";
    case ColType::Other: return "";
  }
  return "";
}

bool IsTextType(ColType t) {
  return t == ColType::Char || t == ColType::VarChar || t == ColType::NChar || t == ColType::NVarChar;
}

// The text form of a number as CONVERT(varchar, n) writes it.
std::string NumberText(const Value& v) {
  if (v.kind == T::Int) return std::to_string(v.i);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v.r);
  return buf;
}

struct ColumnDef {
  ColumnInfo info;
  bool explicitNull = false;
  bool primaryKey = false;
  bool unique = false;
  std::string pkName, uniqueName;
  std::string defaultSql;
};

struct KeyDef {
  bool primary = true;
  std::string name;
  std::vector<std::string> cols;  // as declared
  std::vector<bool> descending;
};

class Parser {
 public:
  Parser(Connection& conn, std::string_view text, const std::vector<Token>& toks, std::size_t pos,
         bool reloaded, const DateTime& now)
      : conn_(conn), text_(text), t_(toks), pos_(pos), reloaded_(reloaded), now_(now) {}

  bool Parse(Statement& out);

  Error err;
  bool retry = false;  // a name was not found in a catalog that may be stale
  std::size_t Pos() const { return pos_; }

 private:
  // ---- tokens ----
  const Token& Cur() const { return t_[pos_]; }
  const Token& Peek(std::size_t k) const { return t_[pos_ + k < t_.size() ? pos_ + k : t_.size() - 1]; }
  void Advance() {
    if (Cur().kind != Tok::End) ++pos_;
  }
  bool AcceptWord(const char* w) {
    if (!IsWord(Cur(), w)) return false;
    Advance();
    return true;
  }
  bool AcceptOp(const char* op) {
    if (!IsOp(Cur(), op)) return false;
    Advance();
    return true;
  }
  bool ExpectWord(const char* w) { return AcceptWord(w) || Fail(); }
  bool ExpectOp(const char* op) { return AcceptOp(op) || Fail(); }

  std::string TokenText(const Token& t) const {
    if (t.kind == Tok::String || t.kind == Tok::NString || t.kind == Tok::QuotedIdent || t.kind == Tok::Ident) {
      return t.value;
    }
    return std::string(text_.substr(t.begin, t.end - t.begin));
  }

  // A syntax error at the current token (at the end: near the last one).
  bool Fail() { return FailAt(pos_); }
  bool FailAt(std::size_t at) {
    const Token& t = t_[at];
    if (t.kind == Tok::Unclosed) {
      if (t.value == "*/") {
        err = MakeError(113, "42000", "Missing end comment mark '*/'.");
      } else {
        err = MakeError(105, "42000", "Unclosed quotation mark after the character string '" + t.value + "'.");
      }
      return false;
    }
    if (t.kind == Tok::End) {
      std::string near = at > start_ ? TokenText(t_[at - 1]) : std::string();
      err = SyntaxError(near);
      return false;
    }
    err = SyntaxError(TokenText(t));
    return false;
  }
  bool Error_(const Error& e) {
    err = e;
    return false;
  }

  // Nesting is bounded, so that no input can exhaust the stack.
  struct Nest {
    explicit Nest(Parser& p) : p_(p) { ++p_.depth_; }
    ~Nest() { --p_.depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
    Parser& p_;
  };
  bool TooDeep() {
    if (depth_ <= 128) return false;
    Error_(MakeError(191, "42000",
                     "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into "
                     "smaller queries."));
    return true;
  }
  int depth_ = 0;

  // A name that may be missing only because the catalog is stale.
  bool Missing(const Error& e) {
    if (!reloaded_) retry = true;
    err = e;
    return false;
  }

  // ---- names ----
  bool ParseNameParts(std::vector<std::string>& parts, std::string& written);
  bool ParseTableRef(const TableInfo*& table, std::string* alias);
  void SkipTableHints();
  bool ResolveColumn(const std::vector<std::string>& parts, const std::string& written, Expr& out);

  // ---- expressions ----
  bool ParseExpr(Expr& out);
  bool ParseAnd(Expr& out);
  bool ParseNot(Expr& out);
  bool ParsePredicate(Expr& out);
  bool ParseAdditive(Expr& out);
  bool ParseMultiplicative(Expr& out);
  bool ParseUnary(Expr& out);
  bool ParsePrimary(Expr& out);
  bool ParseFunction(const std::string& name, std::size_t nameAt, Expr& out);
  bool ParseCase(Expr& out);
  bool ParseConvert(Expr& out);
  bool ParseCast(Expr& out);
  bool ParseTypeName(TypeName& ts, bool forDdl, int column);
  bool ParseCondition(Expr& out);

  bool RequireValue(const Expr& e, std::size_t at) {
    if (e.type == T::Bool) return FailAt(at);
    return true;
  }
  bool RequireBool(const Expr& e, std::size_t at) {
    if (e.type == T::Bool) return true;
    return Error_(MakeError(4145, "42000",
                            "An expression of non-boolean type specified in a context where a condition is expected, "
                            "near '" + TokenText(t_[at]) + "'."));
  }

  bool Plus(Expr& l, Expr& r, Expr& out);
  bool Arithmetic(Expr& l, const std::string& op, Expr& r, Expr& out);
  bool Compare(Expr l, const std::string& op, Expr r, Expr& out);
  // Brings two operands of a comparison to a common type; `collate` tells
  // whether they compare as texts.
  void CoercePair(Expr& l, Expr& r, bool& collate);

  Expr ToDateTime(const Expr& e, int style);
  Expr ToInt(const Expr& e, IntKind kind);
  bool ConvertTo(const TypeName& ts, const Expr& e, int style, Expr& out);
  // The SQLite expression of `e` stored into column `c`.
  bool Assign(const ColumnInfo& c, const Expr& e, std::size_t at, std::string& sql);

  // ---- statements ----
  bool ParseSelect(Statement& out);
  bool ParseInsert(Statement& out);
  bool ParseUpdate(Statement& out);
  bool ParseDelete(Statement& out);
  bool ParseTruncate(Statement& out);
  bool ParseCreate(Statement& out);
  bool ParseCreateSchema(Statement& out);
  bool ParseCreateTable(Statement& out);
  bool ParseCreateIndex(Statement& out);
  bool ParseDrop(Statement& out);
  bool ParseAlter(Statement& out);
  bool ParseColumnDef(ColumnDef& def, int column, const std::string& tableName);
  bool ParseKeyColumns(KeyDef& key);
  void SkipOptions();
  bool ColumnSql(const ColumnDef& def, std::string& sql);

  Connection& conn_;
  std::string_view text_;
  const std::vector<Token>& t_;
  std::size_t pos_;
  std::size_t start_ = 0;
  bool reloaded_;
  // CURRENT_TIMESTAMP: one instant for the whole statement, as SQL Server
  // evaluates it once per statement.
  DateTime now_;

  Expr Now() const {
    Expr e = ConstDateTime(now_);
    e.isNow = true;
    return e;
  }

  // The table in scope and its alias (upper case).
  const TableInfo* table_ = nullptr;
  std::string alias_;
  // In VALUES and DEFAULT no column may be named.
  bool constantsOnly_ = false;
};

// ---------------------------------------------------------------------------
// names

bool Parser::ParseNameParts(std::vector<std::string>& parts, std::string& written) {
  parts.clear();
  written.clear();
  if (!IsName(Cur())) return Fail();
  parts.push_back(Cur().value);
  written = Cur().value;
  Advance();
  while (IsOp(Cur(), ".") && (Peek(1).kind == Tok::Ident || Peek(1).kind == Tok::QuotedIdent)) {
    Advance();
    parts.push_back(Cur().value);
    written += "." + Cur().value;
    Advance();
    if (parts.size() > 4) return Fail();
  }
  return true;
}

void Parser::SkipTableHints() {
  // WITH (NOLOCK) and the like: accepted and ignored.
  if (IsWord(Cur(), "WITH") && IsOp(Peek(1), "(")) {
    Advance();
    SkipOptions();
  }
}

bool Parser::ParseTableRef(const TableInfo*& table, std::string* alias) {
  std::vector<std::string> parts;
  std::string written;
  if (!ParseNameParts(parts, written)) return false;
  std::string schema = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
  table = conn_.catalog.FindTable(schema, parts.back());
  if (table == nullptr) return Missing(InvalidObject(written));
  if (alias != nullptr) {
    alias->clear();
    if (AcceptWord("AS")) {
      if (!IsName(Cur())) return Fail();
      *alias = Upper(Cur().value);
      Advance();
    } else if (IsName(Cur())) {
      *alias = Upper(Cur().value);
      Advance();
    }
  }
  SkipTableHints();
  return true;
}

bool Parser::ResolveColumn(const std::vector<std::string>& parts, const std::string& written, Expr& out) {
  if (constantsOnly_) {
    return Error_(MakeError(128, "42000",
                            "The name \"" + written +
                                "\" is not permitted in this context. Valid expressions are constants, constant "
                                "expressions, and (in some contexts) variables. Column names are not permitted."));
  }
  if (parts.size() > 1) {
    bool bound = false;
    if (table_ != nullptr) {
      std::string q = Upper(parts[parts.size() - 2]);
      if (parts.size() == 2 && !alias_.empty()) {
        bound = q == alias_;
      } else {
        bound = q == Upper(table_->name) &&
                (parts.size() == 2 || Upper(parts[parts.size() - 3]) == Upper(table_->schema));
      }
    }
    if (!bound) {
      return Error_(MakeError(4104, "42000", "The multi-part identifier \"" + written + "\" could not be bound."));
    }
  }
  if (table_ == nullptr) return Error_(InvalidColumn(parts.back()));
  int idx = table_->Find(parts.back());
  if (idx < 0) return Missing(InvalidColumn(parts.back()));
  const ColumnInfo& c = table_->cols[static_cast<std::size_t>(idx)];
  out = Expr();
  out.sql = QuoteId(c.name);
  out.type = TypeOfColumn(c);
  out.col = &c;
  return true;
}

// ---------------------------------------------------------------------------
// conversions

Expr Parser::ToDateTime(const Expr& e, int style) {
  if (e.type == T::DateTime) return e;
  if (e.type == T::Null) return ConstNull(T::DateTime);
  if (e.isConst) {
    DateTime dt;
    Error ignored;
    if (e.type == T::Text && ParseDateTime(e.val.s, style, dt, ignored)) return ConstDateTime(dt);
    if (IsNumeric(e.type) && AddDays(dt, e.type == T::Int ? static_cast<double>(e.val.i) : e.val.r)) {
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
    if (e.type == T::Int && FitInt(e.val.i, kind, v, ignored)) return ConstInt(v);
    if (e.type == T::Text && ParseInt(e.val.s, kind, v, ignored)) return ConstInt(v);
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
      if (e.isConst && ParseCanonical(e.val.s, dt) && FormatDateTime(dt, st, text, styleErr)) {
        out = ConstText(FitText(text, n, pad));
      } else {
        out = Runtime("tsql_dtstr(" + e.sql + "," + std::to_string(st) + tail, T::Text);
      }
    } else if (e.isConst && e.type == T::Text) {
      out = ConstText(FitText(e.val.s, n, pad));
    } else if (e.isConst && IsNumeric(e.type)) {
      std::string s = NumberText(e.val);
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
    if (e.isConst && e.type == T::Text && !c.Padded() &&
        (c.length < 0 || e.val.s.size() <= static_cast<std::size_t>(c.length))) {
      sql = e.sql;  // fits as it is (no more bytes than characters allowed)
      return true;
    }
    if (e.isConst && (e.type == T::Text || IsNumeric(e.type) || e.type == T::DateTime)) {
      std::string text;
      Error ignored;
      if (e.type == T::Text) {
        text = e.val.s;
      } else if (e.type == T::DateTime) {
        DateTime dt;
        if (!ParseCanonical(e.val.s, dt) || !FormatDateTime(dt, 0, text, ignored)) text = e.val.s;
      } else {
        text = NumberText(e.val);
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
                                  IntKindName(IntKindOf(c.type)) + " is not allowed. Use the CONVERT function to run "
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
    out = Runtime("(" + l1.sql + (c1 || c2 ? " COLLATE TSQL" : "") + neg + " BETWEEN " + lo.sql + " AND " +
                      hi.sql + ")",
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
      out = ConstText(l.val.s + r.val.s);
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
    int64_t x = a.val.i, y = b.val.i, v = 0;
    bool ok = true;
    if (op == "+") ok = !__builtin_add_overflow(x, y, &v);
    else if (op == "-") ok = !__builtin_sub_overflow(x, y, &v);
    else if (op == "*") ok = !__builtin_mul_overflow(x, y, &v);
    else if (op == "/") ok = y != 0 && !(x == INT64_MIN && y == -1) && ((v = x / y), true);
    else if (op == "%") ok = y != 0 && !(x == INT64_MIN && y == -1) && ((v = x % y), true);
    if (ok) {
      out = ConstInt(v);
      return true;
    }
  }
  if (a.isConst && b.isConst && type == T::Real) {
    double x = a.type == T::Int ? static_cast<double>(a.val.i) : a.val.r;
    double y = b.type == T::Int ? static_cast<double>(b.val.i) : b.val.r;
    Value v;
    v.kind = T::Real;
    bool ok = true;
    if (op == "+") v.r = x + y;
    else if (op == "-") v.r = x - y;
    else if (op == "*") v.r = x * y;
    else if (op == "/") ok = y != 0 && ((v.r = x / y), true);
    else ok = false;
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
    if (x.isConst && x.type == T::Int && x.val.i != INT64_MIN) {
      out = ConstInt(-x.val.i);
    } else if (x.isConst && x.type == T::Real) {
      Value v;
      v.kind = T::Real;
      v.r = -x.val.r;
      out = Const(std::move(v));
    } else {
      Expr n = x.type == T::Text ? ToInt(x, IntKind::Int) : x;
      out = Runtime("(-" + n.sql + ")", n.type == T::Real ? T::Real : T::Int);
    }
    return true;
  }
  return ParsePrimary(out);
}

bool Parser::ParsePrimary(Expr& out) {
  const Token& t = Cur();
  switch (t.kind) {
    case Tok::String:
    case Tok::NString:
      out = ConstText(t.value);
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
      if (IsWord(t, "CASE")) return ParseCase(out);
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
    default:
      return Fail();
  }
}

bool Parser::ParseCase(Expr& out) {
  Advance();  // CASE
  Expr input;
  bool simple = !IsWord(Cur(), "WHEN");
  if (simple) {
    std::size_t at = pos_;
    if (!ParseAdditive(input) || !RequireValue(input, at)) return false;
  }
  std::string sql = "CASE";
  T type = T::Null;
  bool any = false;
  while (AcceptWord("WHEN")) {
    any = true;
    Expr cond;
    if (simple) {
      Expr w;
      std::size_t at = pos_;
      if (!ParseAdditive(w) || !RequireValue(w, at)) return false;
      if (!Compare(input, "=", std::move(w), cond)) return false;
    } else {
      if (!ParseCondition(cond)) return false;
    }
    if (!ExpectWord("THEN")) return false;
    Expr result;
    std::size_t at = pos_;
    if (!ParseExpr(result) || !RequireValue(result, at)) return false;
    if (type == T::Null) type = result.type;
    sql += " WHEN " + cond.sql + " THEN " + result.sql;
  }
  if (!any) return Fail();
  if (AcceptWord("ELSE")) {
    Expr result;
    std::size_t at = pos_;
    if (!ParseExpr(result) || !RequireValue(result, at)) return false;
    if (type == T::Null) type = result.type;
    sql += " ELSE " + result.sql;
  }
  if (!ExpectWord("END")) return false;
  out = Runtime(sql + " END", type == T::Null ? T::Unknown : type);
  return true;
}

bool Parser::ParseTypeName(TypeName& ts, bool forDdl, int column) {
  if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
  std::string name = Upper(Cur().value);
  std::string written = Cur().value;
  if (name == "VARCHAR") ts.type = ColType::VarChar;
  else if (name == "CHAR" || name == "CHARACTER") ts.type = ColType::Char;
  else if (name == "NVARCHAR") ts.type = ColType::NVarChar;
  else if (name == "NCHAR") ts.type = ColType::NChar;
  else if (name == "INT" || name == "INTEGER") ts.type = ColType::Int;
  else if (name == "SMALLINT") ts.type = ColType::SmallInt;
  else if (name == "BIGINT") ts.type = ColType::BigInt;
  else if (name == "TINYINT") ts.type = ColType::TinyInt;
  else if (name == "BIT") ts.type = ColType::Bit;
  else if (name == "DATETIME") ts.type = ColType::DateTime;
  else if (forDdl) {
    return Error_(MakeError(2715, "42000",
                            "Column, parameter, or variable #" + std::to_string(column) +
                                ": Cannot find data type " + written + "."));
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
                                      "' exceeds the maximum allowed for any data type (" +
                                      std::to_string(limit) + ")."));
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
    if (!s.isConst || s.type != T::Int || s.val.i < 0 || s.val.i > 1000) return FailAt(sAt);
    style = static_cast<int>(s.val.i);
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
    return Error_(MakeError(174, "42000",
                            "The " + lower + " function requires " + std::to_string(n) + " argument(s)."));
  };
  auto asText = [&](const Expr& e) { return e.type == T::Text || e.type == T::Null ? e.sql : "tsql_str(" + e.sql + ",-1,0)"; };

  if (name == "GETDATE" || name == "SYSDATETIME") {
    if (!arity(0)) return false;
    out = Now();
    return true;
  }
  if (name == "GETUTCDATE") {
    if (!arity(0)) return false;
    DateTime utc;
    if (!UtcNow(utc)) utc = now_;
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
        equal = CompareText(a.val.s, b.val.s) == 0;
      } else if (a.type == T::DateTime && b.type == T::DateTime) {
        equal = a.val.s == b.val.s;
      } else if (IsNumeric(a.type) && IsNumeric(b.type)) {
        double x = a.type == T::Int ? static_cast<double>(a.val.i) : a.val.r;
        double y = b.type == T::Int ? static_cast<double>(b.val.i) : b.val.r;
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
    if (a.isConst && (a.type == T::Text || IsNumeric(a.type))) {
      std::string s = a.type == T::Text ? a.val.s : NumberText(a.val);
      if (name == "RTRIM") out = ConstText(std::string(RTrimText(s)));
      else if (name == "LTRIM") out = ConstText(std::string(LTrimText(s)));
      else if (name == "UPPER") out = ConstText(UpperText(s));
      else if (name == "LOWER") out = ConstText(LowerText(s));
      else out = ConstInt(static_cast<int64_t>(CharCount(RTrimText(s))));
      return true;
    }
    std::string arg = a.type == T::DateTime ? "tsql_dtstr(" + a.sql + ",0,30,0)" : asText(a);
    if (name == "RTRIM") out = Runtime("rtrim(" + arg + ",' ')", T::Text);
    else if (name == "LTRIM") out = Runtime("ltrim(" + arg + ",' ')", T::Text);
    else if (name == "UPPER") out = Runtime("tsql_upper(" + arg + ")", T::Text);
    else if (name == "LOWER") out = Runtime("tsql_lower(" + arg + ")", T::Text);
    else out = Runtime("tsql_len(" + arg + ")", T::Int);
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
    if (depth == 0 && (IsOp(t_[k], ";") || IsWord(t_[k], "WHERE") || IsWord(t_[k], "ORDER") ||
                       IsWord(t_[k], "GROUP") || IsWord(t_[k], "UNION"))) {
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
      } else if ((Cur().kind == Tok::Ident || Cur().kind == Tok::QuotedIdent) && endsTerm(Peek(1)) &&
                 [&] {
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

bool Parser::ParseKeyColumns(KeyDef& key) {
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
        return Error_(MakeError(8110, "42000",
                                "Cannot add multiple PRIMARY KEY constraints to table '" + tableName + "'."));
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
            if (e.type == T::Text && !ParseInt(e.val.s, IntKindOf(def.info.type), v, conv)) return Error_(conv);
            if (e.type == T::Int && !FitInt(e.val.i, IntKindOf(def.info.type), v, conv)) return Error_(conv);
          } else if (def.info.type == ColType::DateTime) {
            DateTime dt;
            Error conv;
            if (e.type == T::Text && !ParseDateTime(e.val.s, -1, dt, conv)) return Error_(conv);
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
    out.pre.push_back("CREATE TABLE IF NOT EXISTS \"sys.schemas\" (name varchar(128) COLLATE TSQL NOT NULL, "
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
  if (AcceptWord("INCLUDE")) {
    if (!IsOp(Cur(), "(")) return Fail();
    SkipOptions();
  }
  if (IsWord(Cur(), "WHERE")) return Fail();
  if (IsWord(Cur(), "WITH") && IsOp(Peek(1), "(")) {
    Advance();
    SkipOptions();
  }
  if (AcceptWord("ON")) {
    if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
    Advance();
  }
  std::string list;
  for (std::size_t i = 0; i < key.cols.size(); ++i) {
    int idx = table->Find(key.cols[i]);
    if (idx < 0) return Missing(MakeError(1911, "42000", "Column name '" + key.cols[i] + "' does not exist in the target table or view."));
    if (!list.empty()) list += ", ";
    list += QuoteId(table->cols[static_cast<std::size_t>(idx)].name);
    if (key.descending[i]) list += " DESC";
  }
  out.sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
            QuoteId(table->sqliteName + "." + name) + " ON " + QuoteId(table->sqliteName) + " (" + list + ")";
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
      return Error_(MakeError(3701, "42S02",
                              "Cannot drop the table '" + written +
                                  "', because it does not exist or you do not have permission."));
    }
    out.sql = "DROP TABLE " + QuoteId(table->sqliteName);
    return true;
  }
  if (AcceptWord("INDEX")) {
    if (!IsName(Cur())) return Fail();
    std::vector<std::string> parts;
    std::string written;
    if (!ParseNameParts(parts, written)) return false;
    std::string indexName;
    const TableInfo* table = nullptr;
    if (AcceptWord("ON")) {
      indexName = parts.back();
      if (parts.size() != 1) return Fail();
      if (!ParseTableRef(table, nullptr)) return false;
    } else {
      if (parts.size() < 2) return Fail();
      indexName = parts.back();
      table = conn_.catalog.FindTable(parts.size() >= 3 ? parts[parts.size() - 3] : std::string(),
                                      parts[parts.size() - 2]);
    }
    bool found = false;
    if (table != nullptr) {
      for (const std::string& existing : table->indexes) found = found || existing == Upper(indexName);
    }
    if (!found) {
      return Error_(MakeError(3701, "42S02",
                              "Cannot drop the index '" + written +
                                  "', because it does not exist or you do not have permission."));
    }
    out.sql = "DROP INDEX " + QuoteId(table->sqliteName + "." + indexName);
    return true;
  }
  if (AcceptWord("SCHEMA")) {
    if (!IsName(Cur())) return Fail();
    std::string name = Cur().value;
    Advance();
    std::string schema = conn_.catalog.FindSchema(name);
    if (schema.empty() || !conn_.catalog.HasSchemaTable() || Upper(schema) == "DBO" || Upper(schema) == "SYS") {
      return Error_(MakeError(3701, "42S02",
                              "Cannot drop the schema '" + name +
                                  "', because it does not exist or you do not have permission."));
    }
    out.sql = "DELETE FROM \"sys.schemas\" WHERE name = " + TextLiteral(schema) + " COLLATE TSQL";
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

// ---------------------------------------------------------------------------

bool Parser::Parse(Statement& out) {
  start_ = pos_;
  const Token& t = Cur();
  bool ok = false;
  if (IsWord(t, "SELECT")) {
    ok = ParseSelect(out);
  } else if (IsWord(t, "INSERT")) {
    ok = ParseInsert(out);
  } else if (IsWord(t, "UPDATE")) {
    ok = ParseUpdate(out);
  } else if (IsWord(t, "DELETE")) {
    ok = ParseDelete(out);
  } else if (IsWord(t, "TRUNCATE")) {
    ok = ParseTruncate(out);
  } else if (IsWord(t, "CREATE")) {
    ok = ParseCreate(out);
  } else if (IsWord(t, "DROP")) {
    ok = ParseDrop(out);
  } else if (IsWord(t, "ALTER")) {
    ok = ParseAlter(out);
  } else if (IsWord(t, "SET") || IsWord(t, "USE")) {
    // Session options (SET NOCOUNT ON, ...) and the database choice: the
    // stand-in has one database and SQL Server's defaults.
    Advance();
    if (Cur().kind != Tok::Ident && Cur().kind != Tok::QuotedIdent) return Fail();
    Advance();
    // The rest of the option (ON, dmy, TRANSACTION ISOLATION LEVEL ...),
    // up to the next statement.
    static const char* const kStatementWords[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE",
                                                  "DROP",   "ALTER",  "SET",    "USE",    "BEGIN",
                                                  "COMMIT", "ROLLBACK", "TRUNCATE"};
    while (Cur().kind == Tok::Ident || Cur().kind == Tok::QuotedIdent || Cur().kind == Tok::Integer ||
           Cur().kind == Tok::String || IsOp(Cur(), ",")) {
      bool next = false;
      for (const char* w : kStatementWords) next = next || IsWord(Cur(), w);
      if (next) break;
      Advance();
    }
    out.kind = Kind::Other;
    ok = true;
  } else if (IsWord(t, "BEGIN")) {
    Advance();
    if (!AcceptWord("TRAN") && !AcceptWord("TRANSACTION")) return Fail();
    if (IsName(Cur())) Advance();
    out.sql = "BEGIN";
    ok = true;
  } else if (IsWord(t, "COMMIT") || IsWord(t, "ROLLBACK")) {
    bool commit = IsWord(t, "COMMIT");
    Advance();
    if (!AcceptWord("TRAN") && !AcceptWord("TRANSACTION")) AcceptWord("WORK");
    if (IsName(Cur())) Advance();
    out.sql = commit ? "COMMIT" : "ROLLBACK";
    ok = true;
  } else {
    return Fail();
  }
  if (!ok) return false;
  AcceptOp(";");
  return true;
}

}  // namespace

bool TranslateStatement(Connection& conn, std::string_view text, const std::vector<Token>& toks,
                        std::size_t& pos, Statement& out, Error& err) {
  bool reloaded = false;
  bool ddl = IsWord(toks[pos], "CREATE") || IsWord(toks[pos], "DROP") || IsWord(toks[pos], "ALTER");
  if (conn.stale || ddl) {
    if (!conn.catalog.Load(conn.db, err)) return false;
    conn.stale = false;
    reloaded = true;
  }
  // The statement runs right after its translation (the driver translates
  // at every execution), so the current time is taken here.
  DateTime now;
  if (!LocalNow(now)) now = DateTime();
  for (;;) {
    Parser p(conn, text, toks, pos, reloaded, now);
    Statement st;
    if (p.Parse(st)) {
      pos = p.Pos();
      out = std::move(st);
      if (out.ddl) conn.stale = true;
      return true;
    }
    if (!p.retry || reloaded) {
      err = p.err;
      return false;
    }
    // A name was missing: the schema may have changed under the cached
    // catalog (another connection's DDL). Read it again and retry once.
    if (!conn.catalog.Load(conn.db, err)) return false;
    conn.stale = false;
    reloaded = true;
  }
}

}  // namespace tsql
