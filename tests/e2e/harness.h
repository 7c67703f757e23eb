// End-to-end harness: a temporary installation tree with a configuration
// file written by the project's own writer, a stand-in database created from
// schema/qvsystem.sql, odbcinst.ini and odbc.ini in a directory named by
// ODBCSYSINI, and the real kranzel binary run from <root>/x/y.
//
//   <root>/Files/Valdura.Ini          LOGIN, PASS, DB_SYSTEM, DATABASE
//   <root>/Valdura_php/log/           kranzel.log, kranzel.old
//   <root>/x/y/                       working directory of every run
//   <root>/odbc/odbcinst.ini, odbc.ini, db.sqlite, journal.sql, control
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int exitCode = -1;
  std::string out;   // standard output
};

using Row = std::vector<std::string>;  // NULL reads as "<NULL>"

class Installation {
 public:
  // Builds the tree and the database. Credentials "kranzel"/"geheim" on DSN
  // "KRANZELDB"; the DSN writes the journal.
  Installation();
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  std::string root;      // the installation root
  std::string workDir;   // <root>/x/y
  std::string odbcDir;   // the ODBCSYSINI directory
  std::string dbPath;
  std::string journalPath;
  std::string controlPath;

  // Rewrites odbc.ini with an attribute of the DSN set (e.g.
  // "NoRowCountMode", "freetds", or "Password"); an empty value removes it.
  void SetDsnAttribute(const std::string& key, const std::string& value);
  // Writes the fault control file (directives, one per line).
  void SetControl(const std::string& directives);
  // Writes a configuration value (encrypted) into Valdura.Ini.
  void SetIni(const std::string& key, const std::string& value);

  // Writes a file at `path` relative to workDir; returns its path relative
  // to workDir (as passed to kranzel).
  std::string WriteFile(const std::string& path, const std::string& content);
  bool Exists(const std::string& pathFromWorkDir) const;
  std::string ReadFile(const std::string& pathFromWorkDir) const;

  // Runs kranzel with `args` from workDir. With `fast`, under
  // faketime -f '+0 x1000' so the 10 s and 60 s pauses pass quickly.
  RunResult Run(const std::vector<std::string>& args, bool fast = true);
  // Runs any command line from workDir with the DSN's ODBCSYSINI and the
  // extra environment `env` (the Windows build under Wine uses it).
  RunResult RunCommand(const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env = {});

  // The log's messages without their timestamps, in order.
  std::vector<std::string> LogMessages() const;
  std::string LogPath() const;
  // Statements the stand-in received (journal), in order, then cleared.
  std::vector<std::string> TakeJournal();

  // Runs T-SQL directly on the stand-in database (not journaled, no faults)
  // and returns the rows.
  std::vector<Row> Query(const std::string& tsql) const;
  void Exec(const std::string& tsql) const;

 private:
  void WriteOdbcIni() const;
  std::vector<std::pair<std::string, std::string>> extra_;  // DSN attributes in order
};

// A fixed-length record: the fields padded (or cut) to their lengths and
// joined, followed by "\n".
std::string Record(const std::vector<std::pair<std::string, int>>& fields);

}  // namespace e2e
