// The T-SQL tokenizer of the stand-in: turns a statement text (or a whole
// DDL batch) into tokens. Comments and white space are dropped; every token
// keeps its place in the source so that errors can quote it and scripts can
// cut out single statements.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tsql {

enum class Tok {
  Ident,        // regular identifier or keyword: M20Dat, SELECT, CONVERT
  QuotedIdent,  // [bracketed] or "double-quoted" identifier
  String,       // 'text' (value has the doubled apostrophes undone)
  NString,      // N'text'
  Integer,      // 123
  Decimal,      // 1.5, .5, 1e3
  Op,           // ( ) , . ; * + - / % = < > <= >= <> != !< !> & | ^ ~
  Unclosed,     // a string or quoted identifier without its closing quote
  End,          // end of the text
};

struct Token {
  Tok kind = Tok::End;
  std::size_t begin = 0;  // offset of the first character in the source
  std::size_t end = 0;    // offset after the last character
  std::string value;      // identifier name (unquoted) or string content
};

// Splits `text` into tokens; the last token is always Tok::End.
std::vector<Token> Lex(std::string_view text);

// True when `t` is an unquoted identifier equal to `word` (upper case
// ASCII) in any letter case.
bool IsWord(const Token& t, const char* word);
// True when `t` is the operator `op`.
bool IsOp(const Token& t, const char* op);

// Upper-cases ASCII letters.
std::string Upper(std::string_view s);

}  // namespace tsql
