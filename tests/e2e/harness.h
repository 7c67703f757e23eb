// End-to-end harness: a temporary installation tree with a configuration
// file written by the project's own writer, a stand-in database created from
// schema/qvsystem.sql, odbcinst.ini and odbc.ini in a directory named by
// ODBCSYSINI, and the real kranzel binary run from <root>/x/y.
//
//   <root>/Files/Valdura.Ini          LOGIN, PASS, DB_SYSTEM, DATABASE
//   <root>/Valdura_php/log/           kranzel.log, kranzel.old
//   <root>/x/y/                       working directory of every run
//   <root>/odbc/odbcinst.ini, odbc.ini, db.sqlite, journal.sql, control
//
// The same installation runs through one of two database paths: the
// in-process stand-in driver (the default), or the production driver on
// Linux, FreeTDS (tdsodbc), talking TDS to kranzel-standin-server on a free
// loopback port. KRANZEL_E2E_TDS=1 in the environment makes every
// Installation take the second path; each run then gets a fresh listener on
// the database (as each run gets a fresh driver in the first path), and the
// DSN attributes User, Password, Journal and Control become the listener's.
//
// With KRANZEL_E2E_CAPTURE naming a directory, every installation also
// appends what a user of the tool could see (each run's arguments, exit code
// and standard output, every statement the stand-in received, the log
// without its timestamps) to <dir>/<suite>.<test>.txt, so two builds can be
// compared byte for byte over the whole suite.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output
};

using Row = std::vector<std::string>;  // NULL reads as "<NULL>"

// The database path of an installation.
enum class Path { InProcess, Tds };

// The path the environment asks for (KRANZEL_E2E_TDS).
Path DefaultPath();
// Why the TDS path cannot run here (FreeTDS or the listener missing), empty
// when it can.
std::string TdsUnavailable();

class Installation {
 public:
  // Builds the tree and the database. Credentials "kranzel"/"geheim" on DSN
  // "KRANZELDB"; the DSN writes the journal.
  explicit Installation(Path path = DefaultPath());
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  std::string root;     // the installation root
  std::string workDir;  // <root>/x/y
  std::string odbcDir;  // the ODBCSYSINI directory
  std::string dbPath;
  std::string journalPath;
  std::string controlPath;

  bool ThroughTds() const { return path_ == Path::Tds; }

  // Starts kranzel-standin-server on the database with the DSN's settings
  // (and `extraArgs`) and points the DSN at its port; returns the port.
  // Run() does this itself.
  int StartListener(const std::vector<std::string>& extraArgs = {});
  // Stops the listener with SIGTERM; throws unless it exits with 0.
  void StopListener();
  // The environment that makes unixODBC (and FreeTDS) use this installation.
  std::vector<std::pair<std::string, std::string>> OdbcEnvironment() const;

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
  // faketime -f '+0 x1000' so the 10 s and 60 s pauses pass quickly. `env`
  // adds environment variables. A run that has not ended after
  // kRunTimeoutSeconds is killed (exit code 137), so a hang fails the test.
  // Runs may be started from several threads at once.
  RunResult Run(const std::vector<std::string>& args, bool fast = true,
                const std::vector<std::pair<std::string, std::string>>& env = {});
  static constexpr int kRunTimeoutSeconds = 120;
  // What the runs wrote to standard error, all of them in order.
  std::string Stderr() const;
  // Runs any command line from workDir with the DSN's environment and the
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
  Path path_;
  int listenerPid_ = -1;
  int listenerPort_ = 0;
  // Appends `text` to this test's capture file (KRANZEL_E2E_CAPTURE).
  void Note(const std::string& text) const;
  std::string capturePath_;                                 // empty: no capture
  std::vector<std::pair<std::string, std::string>> extra_;  // DSN attributes in order
};

// A fixed-length record: the fields padded (or cut) to their lengths and
// joined, followed by "\n".
std::string Record(const std::vector<std::pair<std::string, int>>& fields);

}  // namespace e2e
