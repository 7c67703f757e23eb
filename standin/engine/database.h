// The SQLite database file under every front end of the stand-in, opened
// the way the stand-in runs it: WAL, a busy timeout, and SQL Server's error
// for a database it cannot open. What runs on it is the T-SQL side's
// business (tsql::Database sets the translator up on it).
#pragma once

#include <sqlite3.h>

#include <string>

#include "sql_types.h"

namespace standin {

// An open SQLite database; closed by the destructor.
class DatabaseFile {
 public:
  DatabaseFile() = default;
  ~DatabaseFile() { Close(); }
  DatabaseFile(const DatabaseFile&) = delete;
  DatabaseFile& operator=(const DatabaseFile&) = delete;

  // Opens `path` (created when `create` is set, otherwise it must exist).
  // Returns false with `err` set as SQL Server reports a database it cannot
  // open.
  bool Open(const std::string& path, bool create, Error& err);
  // Closes the database; statements still open keep it until they are
  // finalized (sqlite3_close_v2).
  void Close();
  [[nodiscard]] sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace standin
