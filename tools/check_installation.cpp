// kranzel-check --installation: walks what a run of kranzel needs before it
// reads a delivery (the configuration file, the log directory, the data
// source, the connection, the tables) and says for each step ok or why not.
//
// Only reads: the configuration file is read with kranzel's own reader, the
// log directory is tested with the platform's access check (the mode bits,
// or on Windows the ACL) and nothing is created in it, the connection is
// kranzel's own dbLogin, and the database sees the server
// timestamp query and one zero-row SELECT per table. The password is never
// printed, not even when a driver repeats it in a message.
#include "check_installation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "check_report.h"
#include "config/ini.h"
#include "config/ini_writer.h"
#include "db/connection.h"
#include "db/statement.h"
#include "importers/importers.h"
#include "platform/platform.h"
#include "run/run.h"

namespace {

constexpr const char* kLogDir = "../../Valdura_php/log";

enum class Status { Ok, Warning, Failed, Skipped };

const char* StatusText(Status s) {
  switch (s) {
    case Status::Ok: return "ok";
    case Status::Warning: return "warning";
    case Status::Failed: return "failed";
    case Status::Skipped: return "skipped";
  }
  return "";
}

struct Step {
  std::string name;
  Status status;
  std::string detail;
};

std::vector<Step> Steps;

void Report(const std::string& name, Status status, const std::string& detail) {
  Steps.push_back({name, status, detail});
}

// A driver's message with the password masked.
std::string Masked(std::string text, const std::string& password) {
  if (password.empty()) return text;
  for (std::size_t at = 0; (at = text.find(password, at)) != std::string::npos; at += 3)
    text.replace(at, password.size(), "***");
  return text;
}

std::string DiagText(const db::DiagRecord& d, const db::Session& session) {
  if (d.SqlState.empty()) return "no diagnostic from the driver manager";
  return "SQLSTATE " + d.SqlState + ", native error " + std::to_string(d.NativeError) + ": " +
         Masked(d.Message, session.credentials().Password);
}

namespace fs = std::filesystem;

// What stat would say of a path that cannot be looked at.
std::string StatusError(const std::error_code& ec) {
  return ec ? ec.message() : std::string(std::strerror(ENOENT));
}

// The configuration file: there, a regular readable file, not readable by
// others; then its records as kranzel's lookups find them.
bool CheckConfiguration() {
  const std::string path = platform::NativePath(config::kIniPath);
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) {
    Report("configuration file", Status::Failed, path + ": " + StatusError(ec));
    return false;
  }
  if (!fs::is_regular_file(st)) {
    Report("configuration file", Status::Failed, path + ": not a regular file");
    return false;
  }
  if (!platform::MayAccess(path, platform::Access::Read)) {
    Report("configuration file", Status::Failed, path + ": not readable: " + std::strerror(errno));
    return false;
  }
  // The mode bits, or on Windows the ACL, say who else may read the password.
  const platform::FileReaders readers = platform::ReadersOf(path);
  const std::string who = readers.readers.empty() ? "" : " (read by " + readers.readers + ")";
  if (!readers.others.empty()) {
    Report("configuration file", Status::Warning,
           path + ": " + readers.summary + who + ": " + readers.others +
               " may read the database password (" + readers.fix + ")");
  } else {
    Report("configuration file", Status::Ok, path + ", " + readers.summary + who);
  }

  std::vector<config::ini::Finding> findings;
  std::string error;
  if (!config::ini::Check(path, findings, error)) {
    Report("configuration records", Status::Failed, error);
    return false;
  }
  if (!findings.empty()) {
    std::string detail;
    for (const config::ini::Finding& f : findings) {
      if (!detail.empty()) detail += "; ";
      detail += (f.line > 0 ? "line " + std::to_string(f.line) + ": " : "") + f.message;
    }
    Report("configuration records", Status::Failed, detail);
    return false;
  }
  Report("configuration records", Status::Ok,
         "LOGIN, PASS, DB_SYSTEM and DATABASE found and decrypted, none shadowed");
  return true;
}

// The log directory kranzel appends to: there and writable. Tested with the
// platform's access check so that nothing is created in it.
void CheckLogDirectory() {
  const std::string dir = platform::NativePath(kLogDir);
  std::error_code ec;
  const fs::file_status st = fs::status(dir, ec);
  if (!fs::exists(st)) {
    Report("log directory", Status::Failed, dir + ": " + StatusError(ec));
    return;
  }
  if (!fs::is_directory(st)) {
    Report("log directory", Status::Failed, dir + ": not a directory");
    return;
  }
  if (!platform::MayAccess(dir, platform::Access::Write)) {
    Report("log directory", Status::Failed, dir + ": not writable: " + std::strerror(errno));
    return;
  }
  const std::string log = platform::NativePath(std::string(kLogDir) + "/kranzel.log");
  if (fs::exists(log, ec) && !platform::MayAccess(log, platform::Access::Write)) {
    Report("log directory", Status::Failed, log + ": not writable: " + std::strerror(errno));
    return;
  }
  Report("log directory", Status::Ok, dir + " is writable");
}

// Data-source names compare without regard to case, as the driver managers
// look them up.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Whether the driver manager knows the data source, by its own list.
bool CheckDataSource(const std::string& dsn) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    Report("data source", Status::Failed, "the driver manager gave no environment handle");
    return false;
  }
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                SQL_IS_INTEGER);
  bool found = false;
  std::string known;
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[256];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDataSources(env, direction, name, sizeof name, &nameLength, description,
                                      sizeof description, &descriptionLength))) {
    direction = SQL_FETCH_NEXT;
    const std::string n = reinterpret_cast<const char*>(name);
    known += (known.empty() ? "" : ", ") + n;
    if (SameName(n, dsn)) found = true;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (!found) {
    Report("data source", Status::Failed,
           "DSN " + dsn + " is not known to the driver manager (known: " +
               (known.empty() ? std::string("none") : known) + ")");
    return false;
  }
  Report("data source", Status::Ok, "DSN " + dsn + " is known to the driver manager");
  return true;
}

// A zero-row read of one table; empty when it worked, else the reason.
std::string ReadNoRows(db::Session& session, const std::string& table) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQLAllocHandle(SQL_HANDLE_STMT, session.dbc(), &stmt) == SQL_ERROR)
    return "no statement handle";
  db::dbSetQueryTimeout(stmt);
  std::string text = "SELECT * FROM QVSYSTEM." + table + " WHERE 1 = 0";
  std::string reason;
  if (SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS) == SQL_ERROR) {
    db::DiagRecord d;
    db::dbGetDiag(session, SQL_HANDLE_STMT, stmt, d);
    reason = DiagText(d, session);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return reason;
}

void CheckDatabase(bool configured) {
  if (!configured) {
    Report("data source", Status::Skipped, "the configuration file must be right first");
    Report("connection", Status::Skipped, "the configuration file must be right first");
    return;
  }
  // Read exactly as kranzel reads them (all four again below).
  const std::string dsn =
      config::ini::Lookup("", "DATABASE", 0, platform::NativePath(config::kIniPath)).value;
  if (dsn.empty() || dsn.size() > 40) {
    Report("data source", Status::Failed,
           "the DATABASE value has " + std::to_string(dsn.size()) +
               " characters; kranzel uses 1 to 40");
    Report("connection", Status::Skipped, "no data source");
    return;
  }
  if (!CheckDataSource(dsn)) {
    Report("connection", Status::Skipped, "no data source");
    return;
  }
  // kranzel's own reading of the configuration and login; its log lines go
  // nowhere (see main). The session disconnects when it ends.
  const run::DatabaseConfig settings = run::ReadDatabaseConfig();
  db::Session session(settings.credentials);
  const std::string& user = session.credentials().User;
  if (!db::dbLogin(session)) {
    const db::DiagRecord d = db::dbConnectDiag(session);
    Report("connection", Status::Failed,
           "as user " + user + " to DSN " + dsn + ": " + DiagText(d, session));
    return;
  }
  Report("connection", Status::Ok,
         "as user " + user + " to DSN " + dsn + " (DB_SYSTEM " + settings.dbSystem + ")");

  std::string timestamp;
  const db::StatementResult rc = db::SQL_GetServerTimestamp(session, timestamp);
  if (!rc.done()) {
    Report(
        "server timestamp", Status::Failed,
        "result " + std::to_string(db::LoggedNumber(rc)) + ": " + DiagText(session.diag, session));
  } else {
    Report("server timestamp", Status::Ok, timestamp);
  }
  // The tables of every file type, as the table of file types names them.
  for (const importers::FileType* type : importers::FileTypes()) {
    for (const char* table : type->tables) {
      const std::string reason = ReadNoRows(session, table);
      Report(std::string("table QVSYSTEM.") + table, reason.empty() ? Status::Ok : Status::Failed,
             reason.empty() ? "readable" : reason);
    }
  }
}

}  // namespace

int CheckInstallation(const std::string& dir, bool json) {
  Steps.clear();
  if (!platform::ChangeDirectory(dir)) {
    Report("working directory", Status::Failed, dir + ": " + std::strerror(errno));
  } else {
    Report("working directory", Status::Ok, dir);
    const bool configured = CheckConfiguration();
    CheckLogDirectory();
    CheckDatabase(configured);
  }

  bool fine = true;
  for (const Step& s : Steps)
    if (s.status == Status::Failed) fine = false;
  if (json) {
    std::ostringstream j;
    j << "{\"installation\":" << check::Json(dir) << ",\"steps\":[";
    for (std::size_t i = 0; i < Steps.size(); ++i) {
      j << (i ? "," : "") << R"({"step":)" << check::Json(Steps[i].name) << R"(,"status":")"
        << StatusText(Steps[i].status) << R"(","detail":)" << check::Json(Steps[i].detail) << "}";
    }
    j << "],\"ok\":" << (fine ? "true" : "false") << "}\n";
    std::cout << j.str();
  } else {
    for (const Step& s : Steps)
      std::cout << s.name << ": " << StatusText(s.status) << " - " << s.detail << "\n";
    std::cout << (fine ? "installation ok\n" : "installation has problems\n");
  }
  return fine ? 0 : 1;
}
