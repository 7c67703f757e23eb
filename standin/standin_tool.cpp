// kranzel-standin: sets up and inspects a stand-in database without ODBC.
//
//   kranzel-standin create DB_PATH DDL_FILE   creates (or extends) the
//                                              database by running a T-SQL
//                                              DDL file
//   kranzel-standin exec DB_PATH 'T-SQL'      runs one statement; prints each
//                                              result row as one line, values
//                                              tab-separated, NULL as <NULL>
//
// Exit 0 on success; 1 with SQL Server's error (number and message) on
// stderr; 2 on a wrong command line.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tsql.h"

namespace {

int Usage() {
  std::cerr << "usage: kranzel-standin create DB_PATH DDL_FILE\n"
               "       kranzel-standin exec DB_PATH 'T-SQL'\n";
  return 2;
}

int Fail(const standin::Error& err) {
  std::cerr << "Msg " << err.native << ", Level 16, State 1, Line 1\n" << err.message << "\n";
  return 1;
}

int Create(const std::string& dbPath, const std::string& ddlPath) {
  std::ifstream in(ddlPath, std::ios::binary);
  if (!in) {
    std::cerr << "kranzel-standin: cannot read " << ddlPath << "\n";
    return 1;
  }
  std::ostringstream script;
  script << in.rdbuf();
  tsql::Database db;
  standin::Error err;
  if (!db.Open(dbPath, true, err)) return Fail(err);
  if (!tsql::RunScript(db.handle(), script.str(), err)) return Fail(err);
  return 0;
}

int Exec(const std::string& dbPath, const std::string& text) {
  tsql::Database db;
  standin::Error err;
  if (!db.Open(dbPath, false, err)) return Fail(err);
  tsql::Execution ex;
  if (!tsql::Execute(db.handle(), text, ex, err)) return Fail(err);
  std::string out;
  for (;;) {
    int r = tsql::StepRow(db.handle(), ex, text, err);
    if (r < 0) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      return Fail(err);
    }
    if (r == 0) break;
    int n = sqlite3_column_count(ex.stmt);
    for (int i = 0; i < n; ++i) {
      if (i > 0) out += '\t';
      if (sqlite3_column_type(ex.stmt, i) == SQLITE_NULL) {
        out += "<NULL>";
      } else {
        const char* v = reinterpret_cast<const char*>(sqlite3_column_text(ex.stmt, i));
        out.append(v != nullptr ? v : "", static_cast<std::size_t>(sqlite3_column_bytes(ex.stmt, i)));
      }
    }
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  std::string command = argv[1];
  if (command == "create") return Create(argv[2], argv[3]);
  if (command == "exec") return Exec(argv[2], argv[3]);
  return Usage();
}
