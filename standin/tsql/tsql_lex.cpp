// T-SQL tokenizer. Grammar of the tokens (bytes of 0x80 and above count as
// letters, so UTF-8 and single-byte code page text pass through):
//
//   blank      := ' ' | \t | \r | \n | \v | \f
//   comment    := '--' ... end of line | '/*' ... '*/' (nested, as T-SQL does)
//   ident      := (letter | '_' | '@' | '#') (letter | digit | '_' | '@' | '#' | '$')*
//   quoted     := '[' (any | ']]')* ']' | '"' (any | '""')* '"'
//   string     := ['N'] '\'' (any | '\'\'')* '\''
//   number     := digit+ ['.' digit*] [exponent] | '.' digit+ [exponent]
//   operator   := '<=' | '>=' | '<>' | '!=' | '!<' | '!>' | one other character
#include "tsql_lex.h"

namespace tsql {

namespace {

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsWord(const Token& t, const char* word) {
  if (t.kind != Tok::Ident) return false;
  std::size_t i = 0;
  for (; word[i] != '\0'; ++i) {
    if (i >= t.value.size()) return false;
    char c = t.value[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return i == t.value.size();
}

bool IsOp(const Token& t, const char* op) {
  if (t.kind != Tok::Op || t.value.empty() || t.value[0] != op[0]) return false;
  return op[1] == '\0' ? t.value.size() == 1 : (t.value.size() == 2 && t.value[1] == op[1]);
}

std::vector<Token> Lex(std::string_view text) {
  std::vector<Token> out;
  out.reserve(text.size() / 4 + 4);
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto at = [&](std::size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(text[k]) : 0; };

  while (i < n) {
    unsigned char c = at(i);
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    if (c == '-' && at(i + 1) == '-') {
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && at(i + 1) == '*') {
      int depth = 0;
      std::size_t k = i;
      while (k < n) {
        if (text[k] == '/' && at(k + 1) == '*') {
          ++depth;
          k += 2;
        } else if (text[k] == '*' && at(k + 1) == '/') {
          --depth;
          k += 2;
          if (depth == 0) break;
        } else {
          ++k;
        }
      }
      if (depth != 0) {
        // SQL Server: "Missing end comment mark '*/'." (113); reported as
        // an unclosed token so the parser can name it.
        Token t;
        t.kind = Tok::Unclosed;
        t.begin = i;
        t.end = n;
        t.value = "*/";
        out.push_back(std::move(t));
        i = n;
        break;
      }
      i = k;
      continue;
    }
    Token t;
    t.begin = i;
    if (c == '\'' || ((c == 'N' || c == 'n') && at(i + 1) == '\'')) {
      t.kind = c == '\'' ? Tok::String : Tok::NString;
      std::size_t k = i + (c == '\'' ? 1 : 2);
      bool closed = false;
      while (k < n) {
        std::size_t quote = text.find('\'', k);
        if (quote == std::string_view::npos) {
          t.value.append(text.substr(k));
          k = n;
          break;
        }
        t.value.append(text.substr(k, quote - k));
        if (at(quote + 1) == '\'') {
          t.value += '\'';
          k = quote + 2;
          continue;
        }
        closed = true;
        k = quote + 1;
        break;
      }
      if (!closed) t.kind = Tok::Unclosed;
      t.end = k;
      i = k;
      out.push_back(std::move(t));
      continue;
    }
    if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      t.kind = Tok::QuotedIdent;
      std::size_t k = i + 1;
      bool closed = false;
      while (k < n) {
        if (text[k] == close) {
          if (at(k + 1) == static_cast<unsigned char>(close)) {
            t.value += close;
            k += 2;
            continue;
          }
          closed = true;
          ++k;
          break;
        }
        t.value += text[k];
        ++k;
      }
      if (!closed) t.kind = Tok::Unclosed;
      t.end = k;
      i = k;
      out.push_back(std::move(t));
      continue;
    }
    if (IsLetter(c) || c == '_' || c == '@' || c == '#') {
      std::size_t k = i + 1;
      while (k < n) {
        unsigned char d = at(k);
        if (IsLetter(d) || IsDigit(d) || d == '_' || d == '@' || d == '#' || d == '$') {
          ++k;
        } else {
          break;
        }
      }
      t.kind = Tok::Ident;
      t.value.assign(text.substr(i, k - i));
      t.end = k;
      i = k;
      out.push_back(std::move(t));
      continue;
    }
    if (IsDigit(c) || (c == '.' && IsDigit(at(i + 1)))) {
      std::size_t k = i;
      bool decimal = false;
      while (IsDigit(at(k))) ++k;
      if (at(k) == '.') {
        decimal = true;
        ++k;
        while (IsDigit(at(k))) ++k;
      }
      if ((at(k) == 'e' || at(k) == 'E') &&
          (IsDigit(at(k + 1)) || ((at(k + 1) == '+' || at(k + 1) == '-') && IsDigit(at(k + 2))))) {
        decimal = true;
        k += 2;
        while (IsDigit(at(k))) ++k;
      }
      t.kind = decimal ? Tok::Decimal : Tok::Integer;
      t.value.assign(text.substr(i, k - i));
      t.end = k;
      i = k;
      out.push_back(std::move(t));
      continue;
    }
    t.kind = Tok::Op;
    static const char* const kTwo[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
    std::size_t len = 1;
    for (const char* two : kTwo) {
      if (c == static_cast<unsigned char>(two[0]) && at(i + 1) == static_cast<unsigned char>(two[1])) {
        len = 2;
        break;
      }
    }
    t.value.assign(text.substr(i, len));
    t.end = i + len;
    i += len;
    out.push_back(std::move(t));
  }
  Token end;
  end.kind = Tok::End;
  end.begin = end.end = n;
  out.push_back(std::move(end));
  return out;
}

}  // namespace tsql
