// Opening the stand-in's SQLite database file.
#include "database.h"

namespace standin {

void DatabaseFile::Close() {
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

bool DatabaseFile::Open(const std::string& path, bool create, Error& err) {
  Close();
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (db != nullptr) sqlite3_close_v2(db);
    err.native = 4060;
    err.sqlstate = "42000";
    err.message = "Cannot open database \"" + path + "\" requested by the login. The login failed.";
    return false;
  }
  db_ = db;
  sqlite3_extended_result_codes(db_, 0);
  // Several processes (the tool, a test's checker) may use the file at once:
  // WAL lets readers and the writer proceed, the busy timeout rides out the
  // short write locks. NORMAL synchronisation is durable enough in WAL mode
  // for a test and demo database and keeps a commit cheap.
  sqlite3_busy_timeout(db_, 5000);
  char* msg = nullptr;
  rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    err.native = 4060;
    err.sqlstate = "42000";
    err.message = "Cannot open database \"" + path + "\" requested by the login. The login failed. (" +
                  (msg != nullptr ? msg : sqlite3_errstr(rc)) + ")";
    sqlite3_free(msg);
    Close();
    return false;
  }
  return true;
}

}  // namespace standin
