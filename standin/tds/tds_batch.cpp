// Batches cut into statements, the statements a session answers itself, and
// the values put in place of @@-variables and request parameters.
#include "tds_batch.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>

#include "tsql_lex.h"

namespace tds {

namespace {

using tsql::IsOp;
using tsql::IsWord;
using tsql::Tok;
using tsql::Token;

// Words that begin a statement of their own.
bool StartsStatement(const Token& t) {
  static const char* const kWords[] = {"SELECT",  "INSERT",  "UPDATE", "DELETE", "CREATE", "DROP",     "ALTER",
                                       "SET",     "USE",     "BEGIN",  "COMMIT", "SAVE",   "TRUNCATE", "EXEC",
                                       "EXECUTE", "DECLARE", "PRINT",  "IF",     "WHILE",  "RETURN",   "ROLLBACK"};
  for (const char* w : kWords) {
    if (IsWord(t, w)) return true;
  }
  return false;
}

std::string UpperWord(const Token& t) { return tsql::Upper(t.value); }

}  // namespace

std::vector<std::string> SplitBatch(const std::string& text) {
  std::vector<Token> toks = tsql::Lex(text);
  std::vector<std::string> out;
  std::size_t first = 0;  // token that began the current statement
  int depth = 0;
  bool haveSet = false;     // UPDATE: its SET has been seen
  bool haveValues = false;  // INSERT: its VALUES has been seen
  bool haveBody = false;    // IF: the statement it runs has begun
  auto flush = [&](std::size_t end) {
    if (end > first && toks[first].kind != Tok::End && !IsOp(toks[first], ";")) {
      std::size_t from = toks[first].begin;
      std::size_t to = toks[end - 1].end;
      out.push_back(text.substr(from, to - from));
    }
  };
  for (std::size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    if (t.kind == Tok::End) {
      flush(i);
      break;
    }
    if (IsOp(t, "(")) ++depth;
    if (IsOp(t, ")") && depth > 0) --depth;
    if (depth == 0 && IsOp(t, ";")) {
      flush(i);
      first = i + 1;
      haveSet = haveValues = haveBody = false;
      continue;
    }
    if (i == first) {
      haveSet = haveValues = haveBody = false;
      continue;
    }
    if (IsWord(t, "VALUES")) haveValues = true;
    if (depth != 0 || !StartsStatement(t)) continue;
    const Token& lead = toks[first];
    const Token& prev = toks[i - 1];
    // The words that continue the statement they stand in: an UPDATE's
    // SET, the SELECT of INSERT ... SELECT or after UNION, ON DELETE /
    // ON UPDATE of a key, ALTER TABLE ... DROP, a TRAN's name, IF's or
    // WHILE's body, the statement an EXEC or DECLARE names no further.
    if (IsWord(t, "SET") && IsWord(lead, "UPDATE") && !haveSet) {
      haveSet = true;
      continue;
    }
    if (IsWord(t, "SELECT") && ((IsWord(lead, "INSERT") && !haveValues) || IsWord(prev, "UNION") ||
                                IsWord(prev, "ALL") || IsWord(prev, "EXCEPT") || IsWord(prev, "INTERSECT"))) {
      continue;
    }
    if ((IsWord(t, "DELETE") || IsWord(t, "UPDATE")) && IsWord(prev, "ON")) continue;
    if (IsWord(t, "DROP") && IsWord(lead, "ALTER")) continue;
    if ((IsWord(lead, "IF") || IsWord(lead, "WHILE")) && !haveBody) {
      haveBody = true;
      continue;
    }
    flush(i);
    first = i;
    haveSet = haveValues = haveBody = false;
  }
  return out;
}

bool SplitTranCountTest(const std::string& statement, std::string& body) {
  std::vector<Token> toks = tsql::Lex(statement);
  if (toks.size() < 6 || !IsWord(toks[0], "IF") || tsql::Upper(toks[1].value) != "@@TRANCOUNT" || !IsOp(toks[2], ">") ||
      toks[3].kind != Tok::Integer || statement.substr(toks[3].begin, toks[3].end - toks[3].begin) != "0" ||
      toks[4].kind == Tok::End)
    return false;
  body = statement.substr(toks[4].begin);
  return true;
}

StmtKind Classify(const std::string& statement) {
  std::vector<Token> toks = tsql::Lex(statement);
  const Token& t = toks[0];
  auto tranWord = [&](std::size_t i) {
    return i < toks.size() && (IsWord(toks[i], "TRAN") || IsWord(toks[i], "TRANSACTION") || IsWord(toks[i], "WORK"));
  };
  if (IsWord(t, "SET")) return StmtKind::Set;
  if (IsWord(t, "BEGIN") && tranWord(1) && !IsWord(toks[1], "WORK")) return StmtKind::Begin;
  if (IsWord(t, "COMMIT")) return StmtKind::Commit;
  if (IsWord(t, "ROLLBACK")) return StmtKind::Rollback;
  if (IsWord(t, "SAVE")) return StmtKind::Save;
  return StmtKind::Engine;
}

bool ParseSet(const std::string& statement, SetOption& out) {
  std::vector<Token> toks = tsql::Lex(statement);
  if (!IsWord(toks[0], "SET") || toks[1].kind != Tok::Ident) return false;
  std::size_t i = 1;
  out.option = UpperWord(toks[i++]);
  if (out.option == "TRANSACTION") {
    for (int k = 0; k < 2 && toks[i].kind == Tok::Ident; ++k) out.option += " " + UpperWord(toks[i++]);
  }
  out.value.clear();
  for (; toks[i].kind != Tok::End; ++i) {
    if (IsOp(toks[i], ";")) break;
    std::string word =
        toks[i].kind == Tok::Ident ? UpperWord(toks[i]) : statement.substr(toks[i].begin, toks[i].end - toks[i].begin);
    out.value += (out.value.empty() ? "" : " ") + word;
  }
  return true;
}

std::string ProductVersion() { return "16.0.2000.5"; }

std::string VersionText() {
  return "Microsoft SQL Server 2022 (RTM) - " + ProductVersion() +
         " (X64) \n\tkranzel-standin (SQLite " SQLITE_VERSION ") on Linux \n";
}

std::string Literal(const Value& v) {
  auto quoted = [](const std::string& s) {
    std::string out = "'";
    for (char c : s) {
      out += c;
      if (c == '\'') out += '\'';
    }
    return out + "'";
  };
  switch (v.kind) {
    case Value::Null: return "NULL";
    case Value::Int: return std::to_string(v.i);
    case Value::Float: {
      if (!std::isfinite(v.f)) return "NULL";
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.f);
      std::string s = buf;
      if (s.find_first_of(".e") == std::string::npos) s += ".0";
      return s;
    }
    case Value::Decimal: return v.text;
    case Value::Text: return quoted(v.text);
    case Value::NText: return "N" + quoted(v.text);
    case Value::DateTime: return "CONVERT(datetime, " + quoted(v.text) + ", 121)";
    case Value::Binary: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string out = "0x";
      for (unsigned char c : v.text) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      return out;
    }
  }
  return "NULL";
}

std::string Substitute(const std::string& statement, const SessionValues& values,
                       const std::map<std::string, Value>& params) {
  std::vector<Token> toks = tsql::Lex(statement);
  std::string out;
  std::size_t copied = 0;
  auto replace = [&](std::size_t from, std::size_t to, const std::string& with) {
    out.append(statement, copied, from - copied);
    out += with;
    copied = to;
  };
  for (std::size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    if (t.kind != Tok::Ident || t.value.empty()) continue;
    std::string up = tsql::Upper(t.value);
    if (up.rfind("@@", 0) == 0) {
      std::string v;
      if (up == "@@VERSION") {
        v = Literal(Value{Value::NText, 0, 0, VersionText()});
      } else if (up == "@@SPID") {
        v = std::to_string(values.spid);
      } else if (up == "@@ROWCOUNT") {
        v = std::to_string(values.rowCount);
      } else if (up == "@@TRANCOUNT") {
        v = std::to_string(values.tranCount);
      } else if (up == "@@SERVERNAME") {
        v = "N'kranzel-standin'";
      } else if (up == "@@LANGUAGE") {
        v = "N'us_english'";
      } else {
        continue;
      }
      replace(t.begin, t.end, v);
      continue;
    }
    if (up == "SERVERPROPERTY" && i + 3 < toks.size() && IsOp(toks[i + 1], "(") &&
        (toks[i + 2].kind == Tok::String || toks[i + 2].kind == Tok::NString) && IsOp(toks[i + 3], ")")) {
      std::string prop = tsql::Upper(toks[i + 2].value);
      std::string v = "NULL";
      if (prop == "PRODUCTVERSION") v = "N'" + ProductVersion() + "'";
      if (prop == "PRODUCTLEVEL") v = "N'RTM'";
      if (prop == "EDITION") v = "N'Developer Edition (64-bit)'";
      if (prop == "ENGINEEDITION") v = "3";
      if (prop == "SERVERNAME" || prop == "MACHINENAME") v = "N'kranzel-standin'";
      if (prop == "COLLATION") v = "N'SQL_Latin1_General_CP1_CI_AS'";
      replace(t.begin, toks[i + 3].end, v);
      i += 3;
      continue;
    }
    if (up[0] == '@') {
      auto it = params.find(up);
      if (it != params.end()) replace(t.begin, t.end, Literal(it->second));
    }
  }
  out.append(statement, copied, std::string::npos);
  return out;
}

std::vector<std::string> DeclaredNames(const std::string& declarations) {
  std::vector<std::string> names;
  std::vector<Token> toks = tsql::Lex(declarations);
  int depth = 0;
  bool expectName = true;
  for (const Token& t : toks) {
    if (IsOp(t, "(")) ++depth;
    if (IsOp(t, ")")) --depth;
    if (depth == 0 && IsOp(t, ",")) {
      expectName = true;
      continue;
    }
    if (expectName && t.kind == Tok::Ident && !t.value.empty() && t.value[0] == '@') {
      names.push_back(tsql::Upper(t.value));
      expectName = false;
    }
  }
  return names;
}

}  // namespace tds
