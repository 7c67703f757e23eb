// The T-SQL side of the stand-in (first cut: passes statements through to
// SQLite with the schema prefix removed).
#include "tsql.h"

#include <cctype>
#include <string>

namespace tsql {

namespace {

std::string StripSchema(const std::string& in) {
  static const std::string kSchema = "qvsystem.";
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    if (in.size() - i >= kSchema.size()) {
      bool match = true;
      for (std::size_t k = 0; k < kSchema.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(in[i + k])) != kSchema[k]) {
          match = false;
          break;
        }
      }
      if (match) {
        i += kSchema.size();
        continue;
      }
    }
    out += in[i++];
  }
  return out;
}

}  // namespace

bool Setup(sqlite3*, Error&) { return true; }

bool Translate(sqlite3*, const std::string& tsql, Translation& out, Error&) {
  out.sql = StripSchema(tsql);
  std::size_t p = out.sql.find_first_not_of(" \t\r\n");
  std::string head = p == std::string::npos ? "" : out.sql.substr(p, 6);
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (head == "SELECT") out.kind = Kind::Select;
  else if (head == "INSERT") out.kind = Kind::Insert;
  else if (head == "UPDATE") out.kind = Kind::Update;
  else if (head == "DELETE") out.kind = Kind::Delete;
  else if (head == "CREATE") out.kind = Kind::Ddl;
  else out.kind = Kind::Other;
  return true;
}

Error MapError(sqlite3* db, int, const std::string& tsql) {
  Error e;
  e.native = 102;
  e.sqlstate = "42000";
  e.message = std::string("Incorrect syntax near '") + (db ? sqlite3_errmsg(db) : tsql) + "'.";
  return e;
}

bool RunScript(sqlite3* db, const std::string& script, Error& err) {
  std::string sql;
  for (std::size_t start = 0; start <= script.size();) {
    std::size_t end = script.find('\n', start);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(start, end - start);
    std::string trimmed = line;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back()))) trimmed.pop_back();
    std::size_t b = trimmed.find_first_not_of(" \t");
    trimmed = b == std::string::npos ? "" : trimmed.substr(b);
    bool go = trimmed.size() == 2 && std::toupper(static_cast<unsigned char>(trimmed[0])) == 'G' &&
              std::toupper(static_cast<unsigned char>(trimmed[1])) == 'O';
    if (!go) sql += line + "\n";
    start = end + 1;
  }
  std::string stripped = StripSchema(sql);
  char* msg = nullptr;
  if (sqlite3_exec(db, stripped.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    err.native = 102;
    err.sqlstate = "42000";
    err.message = std::string("Incorrect syntax near '") + (msg ? msg : "") + "'.";
    sqlite3_free(msg);
    return false;
  }
  return true;
}

}  // namespace tsql
