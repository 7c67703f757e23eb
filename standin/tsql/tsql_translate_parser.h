// Inside the T-SQL translator: the parser and what its parts share (the
// types of expressions, literals, the helpers). The parser is one class whose
// methods are spread over files by what they parse:
//   tsql_translate_dispatch.cpp  helpers, names, the statement dispatch
//   tsql_translate_expr.cpp  conversions and operators
//   tsql_translate_primary.cpp  literals, columns, functions, CONVERT/CAST
//   tsql_translate_data.cpp  SELECT, INSERT, UPDATE, DELETE, TRUNCATE
//   tsql_translate_ddl.cpp   CREATE, DROP, ALTER
// Only those files include this header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "tsql_translate.h"
#include "tsql_values.h"

namespace tsql::translator {

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
  // Read only through Parser::Val (or a Parser check that records its
  // outcome): the statement cache must know which literal values a
  // translation depends on.
  Value val;
  // The string literal (or CURRENT_TIMESTAMP) this expression is, unchanged;
  // -1 for any other expression. See LiteralUse.
  int lit = -1;
  const ColumnInfo* col = nullptr;  // a plain column reference
  bool isNow = false;               // CURRENT_TIMESTAMP / GETDATE()
};

struct TypeName {
  ColType type = ColType::Other;
  long length = -1;
  bool hasLength = false;
};

// The default of a datetime column whose DEFAULT is CURRENT_TIMESTAMP or
// GETDATE(): the local time of the insert.
inline constexpr char kNowDefaultSql[] = "(strftime('%Y-%m-%d %H:%M:%f','now','localtime'))";

// The words that cannot be a name without brackets.
const std::unordered_set<std::string_view>& Reserved();
bool IsReserved(const Token& t);
// A name: a quoted identifier or an identifier that is no reserved word.
bool IsName(const Token& t);

// SQLite literals.
std::string TextLiteral(std::string_view s);
std::string RealLiteral(double d);
std::string Literal(const Value& v);

// Constant expressions (folded at translation) and run-time ones.
Expr Const(Value v);
Expr ConstText(std::string s);
Expr ConstInt(int64_t i);
// NULL keeps the type Null whatever its context: every rule that tests
// for T::Null (stores, '+', NULLIF) must see it.
Expr ConstNull(T);
Expr ConstDateTime(const DateTime& dt);
Expr Runtime(std::string sql, T type);

// The current local or UTC time, rounded to SQL Server's ticks.
bool LocalNow(DateTime& dt);
bool UtcNow(DateTime& dt);

bool IsNumeric(T t);
bool IsTextType(ColType t);
T TypeOfColumn(const ColumnInfo& c);
IntKind IntKindOf(ColType t);
// The declared type of a SQLite column: SQL Server's name, which the
// catalog reads back. SQLite takes no "(max)": a text type without length
// is one of unlimited length.
std::string DeclaredType(ColType t, long length);
// The text form of a number as CONVERT(varchar, n) writes it.
std::string NumberText(const Value& v);

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
  Parser(Connection& conn, std::string_view text, const std::vector<Token>& toks, std::size_t pos, bool reloaded,
         const DateTime& now, LiteralUse* use)
      : conn_(conn), text_(text), t_(toks), pos_(pos), reloaded_(reloaded), now_(now), use_(use) {}

  bool Parse(Statement& out);

  Error err;
  bool retry = false;  // a name was not found in a catalog that may be stale
  [[nodiscard]] std::size_t Pos() const { return pos_; }

 private:
  // ---- tokens ----
  [[nodiscard]] const Token& Cur() const { return t_[pos_]; }
  [[nodiscard]] const Token& Peek(std::size_t k) const { return t_[pos_ + k < t_.size() ? pos_ + k : t_.size() - 1]; }
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

  [[nodiscard]] std::string TokenText(const Token& t) const {
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

  // ---- literal values ----
  // Every read of a constant's value goes through these, so that a
  // translation with its literals as parameters (use_ set) records what it
  // depends on: Val pins the literal (the cache key holds its value), the
  // checks record their outcome (the cache key holds that).
  const Value& Val(const Expr& e) {
    if (use_ != nullptr && e.lit >= 0) {
      if (e.lit == use_->nowParam) {
        use_->uncacheable = true;
      } else {
        use_->pinned[static_cast<std::size_t>(e.lit)] = true;
      }
    }
    return e.val;
  }
  // The text constant `e` has at most `n` bytes.
  bool TextFits(const Expr& e, long n) {
    bool r = e.val.s.size() <= static_cast<std::size_t>(n);
    Record(e, LiteralCheck::Fits, n, std::string(), r);
    return r;
  }
  // The text constant `e` equals `other` in the default collation.
  bool TextEquals(const Expr& e, const std::string& other) {
    bool r = CompareText(e.val.s, other) == 0;
    Record(e, LiteralCheck::Equals, 0, other, r);
    return r;
  }
  // The text constant `e` has no trailing blank.
  bool TextTrimmed(const Expr& e) {
    bool r = RTrimText(e.val.s).size() == e.val.s.size();
    Record(e, LiteralCheck::Trimmed, 0, std::string(), r);
    return r;
  }
  void Record(const Expr& e, LiteralCheck::Kind kind, long n, const std::string& other, bool result) {
    if (use_ == nullptr || e.lit < 0) return;
    if (e.lit == use_->nowParam) {
      use_->uncacheable = true;
      return;
    }
    use_->checks.push_back({e.lit, kind, n, other, result});
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
                            "near '" +
                                TokenText(t_[at]) + "'."));
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
  // The key list of a constraint or index, "(col [ASC|DESC], ...)", and the
  // options after it. An index (`index`) may also name INCLUDE columns
  // (ignored, as the stand-in has no covering indexes) but no filter.
  bool ParseKeyColumns(KeyDef& key, bool index = false);
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

  [[nodiscard]] Expr Now() const {
    Expr e = ConstDateTime(now_);
    e.isNow = true;
    if (use_ != nullptr) {
      e.lit = use_->nowParam;
      e.sql = ParamMark(use_->nowParam);
      use_->nowUsed = true;
    }
    return e;
  }
  // The statement's literals as parameters: null for a plain translation.
  LiteralUse* use_;

  // The table in scope and its alias (upper case).
  const TableInfo* table_ = nullptr;
  std::string alias_;
  // In VALUES and DEFAULT no column may be named.
  bool constantsOnly_ = false;
};

}  // namespace tsql::translator
