// Helpers of the T-SQL tests.
#include "tsql_test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdlib>

#include <fstream>
#include <sstream>

namespace tsqltest {

Db::Db(bool schema) {
  char tmpl[] = "/tmp/tsql_test_XXXXXX";
  char* dir = mkdtemp(tmpl);
  if (dir == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  dir_ = dir;
  path_ = dir_ + "/db.sqlite";
  if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path_;
    return;
  }
  // As the driver opens it: WAL, commits without waiting for the disk.
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  tsql::Error err;
  if (!tsql::Setup(db_, err)) ADD_FAILURE() << "Setup: " << err.message;
  if (schema && !tsql::RunScript(db_, SourceFile("schema/qvsystem.sql"), err)) {
    ADD_FAILURE() << "schema: " << err.native << " " << err.message;
  }
}

Db::~Db() {
  if (db_ != nullptr) sqlite3_close(db_);
  if (!path_.empty()) {
    unlink(path_.c_str());
    unlink((path_ + "-journal").c_str());
    unlink((path_ + "-wal").c_str());
    unlink((path_ + "-shm").c_str());
  }
  if (!dir_.empty()) rmdir(dir_.c_str());
}

Result Db::Exec(const std::string& text) const {
  Result r;
  tsql::Translation tr;
  if (!tsql::Translate(db_, text, tr, r.error)) return r;
  if (tr.sql.empty()) {
    r.ok = true;
    return r;
  }
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, tr.sql.c_str(), static_cast<int>(tr.sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) {
    r.error = tsql::MapError(db_, rc, text);
    sqlite3_finalize(st);
    return r;
  }
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    Row row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      const unsigned char* v = sqlite3_column_text(st, c);
      row.push_back(v == nullptr ? "<NULL>"
                                 : std::string(reinterpret_cast<const char*>(v),
                                               static_cast<std::size_t>(sqlite3_column_bytes(st, c))));
    }
    r.rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    r.error = tsql::MapError(db_, rc, text);
    sqlite3_finalize(st);
    return r;
  }
  if (tr.kind == tsql::Kind::Insert || tr.kind == tsql::Kind::Update || tr.kind == tsql::Kind::Delete) {
    r.changes = sqlite3_changes(db_);
  }
  sqlite3_finalize(st);
  r.ok = true;
  return r;
}

std::vector<Row> Db::Rows(const std::string& tsql) const {
  Result r = Exec(tsql);
  EXPECT_TRUE(r.ok) << tsql << "\n-> " << r.error.native << " " << r.error.message;
  return r.rows;
}

std::string Db::Value(const std::string& tsql) const {
  std::vector<Row> rows = Rows(tsql);
  if (rows.size() != 1 || rows[0].size() != 1) {
    ADD_FAILURE() << tsql << ": expected one value, got " << rows.size() << " rows";
    return "";
  }
  return rows[0][0];
}

bool Db::Script(const std::string& script, tsql::Error& err) const { return tsql::RunScript(db_, script, err); }

std::string Fill(const std::string& format, const std::vector<std::string>& values) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      std::size_t len = 0;
      if (format.compare(i, 2, "%s") == 0)
        len = 2;
      else if (format.compare(i, 3, "%ld") == 0 || format.compare(i, 3, "%hd") == 0)
        len = 3;
      if (len > 0) {
        EXPECT_LT(next, values.size()) << "too few values for " << format;
        if (next < values.size()) out += values[next++];
        i += len - 1;
        continue;
      }
    }
    out += format[i];
  }
  EXPECT_EQ(next, values.size()) << "too many values for " << format;
  return out;
}

std::string SourceFile(const std::string& relative) {
  std::ifstream in(std::string(KRANZEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace tsqltest
