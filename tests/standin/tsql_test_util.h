// Helpers of the T-SQL tests: a SQLite database set up by the translator
// (optionally with the QVSYSTEM schema), T-SQL run through Translate as
// the driver runs it, and statement texts filled as the tool fills them.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "tsql.h"

namespace tsqltest {

using Row = std::vector<std::string>;  // NULL reads as "<NULL>"

struct Result {
  bool ok = false;
  tsql::Error error;      // when !ok
  std::vector<Row> rows;  // result rows of a SELECT
  int changes = 0;        // rows touched by INSERT, UPDATE, DELETE
};

class Db {
 public:
  // A fresh database file in a temporary directory; with `schema`, the
  // schema file schema/qvsystem.sql has been run on it.
  explicit Db(bool schema = true);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  [[nodiscard]] sqlite3* handle() const { return db_; }
  [[nodiscard]] const std::string& path() const { return path_; }

  // Translates and runs one T-SQL statement as the driver does.
  [[nodiscard]] Result Exec(const std::string& tsql) const;
  // Rows of a query that must succeed (a failure fails the test).
  [[nodiscard]] std::vector<Row> Rows(const std::string& tsql) const;
  // The single value of a query that must return one row of one column.
  [[nodiscard]] std::string Value(const std::string& tsql) const;
  // Runs a T-SQL script (GO batches).
  bool Script(const std::string& script, tsql::Error& err) const;

 private:
  std::string dir_;
  std::string path_;
  sqlite3* db_ = nullptr;
};

// Fills a printf-like statement format (%s, %ld, %hd) with `values` in
// order, as the tool does; text values must already have their
// apostrophes doubled.
std::string Fill(const std::string& format, const std::vector<std::string>& values);

// Reads a file of the source tree.
std::string SourceFile(const std::string& relative);

}  // namespace tsqltest
