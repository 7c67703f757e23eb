// SQL Server's errors and column types: what does not belong to one layer.
#include "sql_types.h"

namespace standin {

namespace {

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

void ResolveMessage(Error& e) {
  if (!e.pending) return;
  e.message = e.pending();
  e.pending = nullptr;
}

ColumnType ParseDeclaredType(std::string_view decl) {
  ColumnType t;
  std::string d = AsciiUpper(decl);
  std::size_t paren = d.find('(');
  std::string base = d.substr(0, paren);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (paren != std::string::npos && d.compare(paren + 1, 3, "MAX") != 0) {
    t.length = 0;
    for (std::size_t i = paren + 1; i < d.size() && d[i] >= '0' && d[i] <= '9'; ++i) {
      t.length = t.length * 10 + (d[i] - '0');
      if (t.length > 100000000) break;
    }
  }
  if (base == "VARCHAR")
    t.type = ColType::VarChar;
  else if (base == "CHAR")
    t.type = ColType::Char;
  else if (base == "NVARCHAR")
    t.type = ColType::NVarChar;
  else if (base == "NCHAR")
    t.type = ColType::NChar;
  else if (base == "INT")
    t.type = ColType::Int;
  else if (base == "SMALLINT")
    t.type = ColType::SmallInt;
  else if (base == "BIGINT" || base == "INTEGER")
    t.type = ColType::BigInt;
  else if (base == "TINYINT")
    t.type = ColType::TinyInt;
  else if (base == "BIT")
    t.type = ColType::Bit;
  else if (base == "DATETIME")
    t.type = ColType::DateTime;
  else if (base == "TEXT" || base.find("CHAR") != std::string::npos || base.find("CLOB") != std::string::npos) {
    // A table made outside the translator: text of any length.
    t.type = ColType::VarChar;
    t.length = -1;
  }
  if (t.type != ColType::VarChar && t.type != ColType::Char && t.type != ColType::NVarChar &&
      t.type != ColType::NChar) {
    t.length = -1;
  }
  return t;
}

}  // namespace standin
