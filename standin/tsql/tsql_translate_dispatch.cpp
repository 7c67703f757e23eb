// The translator's parts that the others share: the helpers, names, and
// the dispatch of a statement to its part.
#include <time.h>  // NOLINT(modernize-deprecated-headers): localtime_r, gmtime_r, clock_gettime are POSIX

#include <cstdio>
#include <cstring>

#include "tsql_translate_parser.h"

namespace tsql::translator {

const std::unordered_set<std::string_view>& Reserved() {
  static const auto* words = new std::unordered_set<std::string_view>{
      "ADD",           "ALL",         "ALTER",      "AND",      "ANY",     "AS",      "ASC",
      "AUTHORIZATION", "BEGIN",       "BETWEEN",    "BY",       "CASE",    "CHECK",   "COLLATE",
      "COLUMN",        "COMMIT",      "CONSTRAINT", "CONVERT",  "CREATE",  "CROSS",   "CURRENT_TIMESTAMP",
      "DEFAULT",       "DELETE",      "DESC",       "DISTINCT", "DROP",    "ELSE",    "END",
      "ESCAPE",        "EXCEPT",      "EXEC",       "EXECUTE",  "EXISTS",  "FOREIGN", "FROM",
      "FULL",          "GROUP",       "HAVING",     "IDENTITY", "IF",      "IN",      "INDEX",
      "INNER",         "INSERT",      "INTERSECT",  "INTO",     "IS",      "JOIN",    "KEY",
      "LEFT",          "LIKE",        "NOT",        "NULL",     "NULLIF",  "OF",      "ON",
      "OPTION",        "OR",          "ORDER",      "OUTER",    "PERCENT", "PRIMARY", "REFERENCES",
      "RIGHT",         "ROLLBACK",    "SELECT",     "SET",      "TABLE",   "THEN",    "TOP",
      "TRAN",          "TRANSACTION", "TRUNCATE",   "UNION",    "UNIQUE",  "UPDATE",  "USE",
      "VALUES",        "WHEN",        "WHERE",      "WITH"};
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

namespace {

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
}  // namespace

bool LocalNow(DateTime& dt) { return ClockNow(true, dt); }
bool UtcNow(DateTime& dt) { return ClockNow(false, dt); }

bool IsNumeric(T t) { return t == T::Int || t == T::Real; }

bool IsTextType(ColType t) {
  return t == ColType::Char || t == ColType::VarChar || t == ColType::NChar || t == ColType::NVarChar;
}

T TypeOfColumn(const ColumnInfo& c) {
  if (c.IsText()) return T::Text;
  if (c.IsInt()) return T::Int;
  if (c.type == ColType::DateTime) return T::DateTime;
  return T::Unknown;
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

std::string DeclaredType(ColType t, long length) {
  if (length < 0 && IsTextType(t)) {
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

std::string NumberText(const Value& v) {
  if (v.kind == T::Int) return std::to_string(v.i);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v.r);
  return buf;
}

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
        bound =
            q == Upper(table_->name) && (parts.size() == 2 || Upper(parts[parts.size() - 3]) == Upper(table_->schema));
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
    static const char* const kStatementWords[] = {"SELECT", "INSERT",   "UPDATE",  "DELETE", "CREATE",
                                                  "DROP",   "ALTER",    "SET",     "USE",    "BEGIN",
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
  } else {
    return Fail();
  }
  if (!ok) return false;
  AcceptOp(";");
  return true;
}

}  // namespace tsql::translator

namespace tsql {

using translator::LocalNow;
using translator::Parser;

void LiteralUse::Start(const std::vector<Token>& toks) {
  litAtToken.assign(toks.size(), -1);
  int n = 0;
  for (std::size_t i = 0; i < toks.size(); ++i) {
    if (toks[i].kind == Tok::String || toks[i].kind == Tok::NString) litAtToken[i] = n++;
  }
  param.assign(static_cast<std::size_t>(n), false);
  pinned.assign(static_cast<std::size_t>(n), false);
  checks.clear();
  nowParam = n;
  nowUsed = false;
  uncacheable = false;
}

std::string ParamMark(int k) {
  std::string m(1, '\0');
  m += std::to_string(k);
  m += '\0';
  return m;
}

bool TranslateStatement(Connection& conn, std::string_view text, const std::vector<Token>& toks, std::size_t& pos,
                        Statement& out, Error& err, LiteralUse* use, const DateTime* now) {
  bool reloaded = false;
  bool ddl = IsWord(toks[pos], "CREATE") || IsWord(toks[pos], "DROP") || IsWord(toks[pos], "ALTER");
  if (conn.stale || ddl) {
    if (!conn.catalog.Load(conn.db, err)) return false;
    conn.stale = false;
    conn.cache.Clear();
    reloaded = true;
  }
  // The statement runs right after its translation (the driver translates
  // at every execution), so the current time is taken here.
  DateTime clock;
  if (now != nullptr) {
    clock = *now;
  } else if (!LocalNow(clock)) {
    clock = DateTime();
  }
  for (;;) {
    if (use != nullptr) use->Start(toks);
    Parser p(conn, text, toks, pos, reloaded, clock, use);
    Statement st;
    if (p.Parse(st)) {
      pos = p.Pos();
      out = std::move(st);
      if (out.ddl) {
        conn.stale = true;
        conn.cache.Clear();
      }
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
    conn.cache.Clear();
    reloaded = true;
  }
}

}  // namespace tsql
