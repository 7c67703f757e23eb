// End-to-end harness: a temporary installation tree (support/installation.h,
// shared with the bench) with a configuration file written by the project's
// own writer, a stand-in database created from schema/qvsystem.sql,
// odbcinst.ini and odbc.ini in a directory named by ODBCSYSINI, and the real
// kranzel binary run from <root>/x/y.
//
// The same installation runs through one of two database paths: the
// in-process stand-in driver (the default), or the production driver on
// Linux, FreeTDS (tdsodbc), talking TDS to kranzel-standin-server on a free
// loopback port. KRANZEL_E2E_TDS=1 in the environment makes every
// Installation take the second path; each run then gets a fresh listener on
// the database (as each run gets a fresh driver in the first path), and the
// DSN attributes User, Password, Journal and Control become the listener's.
//
// KRANZEL_E2E_WINE=1 runs the Windows programs of the build instead
// (kranzel.exe, kranzel-ini.exe and kranzel-check.exe from
// KRANZEL_WINDOWS_DIR) under Wine, on the same installation and database:
// Wine's odbc32 hands every ODBC call to the host's unixODBC. Their console
// output and log are read as the Linux build's once every line has been
// checked to end in CR LF (the installation's paths, ..\..\Files\ and
// ..\..\Valdura_php\log\, read as ../../Files/ and ../../Valdura_php/log/); a case that cannot
// apply to a Windows program skips with its reason (SKIP_UNDER_WINE). All runs share one Wine
// prefix (see WineSession).
//
// With KRANZEL_E2E_CAPTURE naming a directory, every installation also
// appends what a user of the tool could see (each run's arguments, exit code
// and standard output, every statement the stand-in received, the log
// without its timestamps) to <dir>/<suite>.<test>.txt, so two builds can be
// compared byte for byte over the whole suite.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output (a Windows program's with LF line ends)
  std::string raw;  // standard output as written (CR LF from a Windows program)
};

using Row = std::vector<std::string>;  // NULL reads as "<NULL>"

// The database path of an installation.
enum class Path { InProcess, Tds };

// The path the environment asks for (KRANZEL_E2E_TDS).
Path DefaultPath();
// Why the TDS path cannot run here (FreeTDS or the listener missing), empty
// when it can.
std::string TdsUnavailable();

// The build whose programs an installation runs.
enum class Platform { Linux, Windows };

// The platform the environment asks for (KRANZEL_E2E_WINE).
Platform DefaultPlatform();
// Why the Windows programs cannot run under Wine here, empty when they can.
std::string WineUnavailable();
// The Windows program of a Linux program of the build (KRANZEL_BIN,
// KRANZEL_INI_BIN, KRANZEL_CHECK_BIN), empty when it is not built.
std::string WindowsProgram(const std::string& linuxProgram);

// One Wine prefix for every Windows run of a test program, with one
// wineserver on the real clock that stays up until TearDown. A wineserver
// under the fake clock would shrink its own timers a thousandfold: it exits
// a few milliseconds after its last client, racing the next client that
// connects, and it kills a process that is still leaving 16 us after its last
// thread ended; both ended runs with "Caught Killed" or a lost connection.
// Only the Windows programs run under the fake clock; their pauses are
// timed in the client process, so they are shortened all the same.
// Registered by itself when KRANZEL_E2E_WINE is set; tests/wine registers it
// always.
class WineSession : public testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  // Registers one session for this test program (more calls do nothing).
  static void Register();
};
// The environment of a Windows run: WINEPREFIX and Wine's settings.
std::vector<std::pair<std::string, std::string>> WineEnvironment();

// Skips the current test when the installation runs the Windows programs and
// the case cannot apply to them (`reason` says why).
#define SKIP_UNDER_WINE(reason)                             \
  if (::e2e::DefaultPlatform() == ::e2e::Platform::Windows) \
  GTEST_SKIP() << "cannot apply to the Windows programs: " << reason
// Skips the current test under Wine when the Windows build lacks `program`'s
// counterpart.
#define SKIP_UNDER_WINE_WITHOUT(program)                      \
  if (::e2e::DefaultPlatform() == ::e2e::Platform::Windows && \
      ::e2e::WindowsProgram(program).empty())                 \
  GTEST_SKIP() << "the Windows build has no counterpart of " << (program) << " (not built yet)"

class Installation {
 public:
  // Builds the tree and the database. Credentials "kranzel"/"geheim" on DSN
  // "KRANZELDB"; the DSN writes the journal.
  explicit Installation(Path path = DefaultPath(), Platform platform = DefaultPlatform());
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  std::string root;     // the installation root
  std::string workDir;  // <root>/x/y
  std::string odbcDir;  // the ODBCSYSINI directory
  std::string dbPath;
  std::string journalPath;
  std::string controlPath;

  [[nodiscard]] bool ThroughTds() const { return path_ == Path::Tds; }
  [[nodiscard]] bool UnderWine() const { return platform_ == Platform::Windows; }

  // Starts kranzel-standin-server on the database with the DSN's settings
  // (and `extraArgs`) and points the DSN at its port; returns the port.
  // Run() does this itself.
  int StartListener(const std::vector<std::string>& extraArgs = {});
  // Stops the listener with SIGTERM; throws unless it exits with 0.
  void StopListener();
  // The environment that makes unixODBC (and FreeTDS) use this installation.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> OdbcEnvironment() const;

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
  [[nodiscard]] bool Exists(const std::string& pathFromWorkDir) const;
  [[nodiscard]] std::string ReadFile(const std::string& pathFromWorkDir) const;

  // Runs kranzel with `args` from workDir. With `fast`, under
  // faketime -f '+0 x1000' so the 10 s and 60 s pauses pass quickly. `env`
  // adds environment variables. A run that has not ended after
  // kRunTimeoutSeconds is killed (exit code 137), so a hang fails the test.
  // Runs may be started from several threads at once.
  RunResult Run(const std::vector<std::string>& args, bool fast = true,
                const std::vector<std::pair<std::string, std::string>>& env = {});
  static constexpr int kRunTimeoutSeconds = 120;
  // What the runs wrote to standard error, all of them in order.
  [[nodiscard]] std::string Stderr() const;
  // Runs any command line from workDir with the DSN's environment and the
  // extra environment `env`. Under Wine a program of the build (argv[0] is
  // KRANZEL_BIN, KRANZEL_INI_BIN or KRANZEL_CHECK_BIN) runs as its Windows
  // counterpart, on the real clock.
  RunResult RunCommand(const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env = {});
  // Runs the Windows program `exe` under Wine from workDir (with `fast`,
  // under the fake clock); `out` and `raw` both hold what it wrote.
  RunResult RunUnderWine(const std::string& exe, const std::vector<std::string>& args,
                         bool fast = true,
                         const std::vector<std::pair<std::string, std::string>>& env = {});

  // The log as the Linux build writes it (a Windows program's read as such:
  // see Run).
  [[nodiscard]] std::string ReadLog() const;
  // The log's messages without their timestamps, in order.
  [[nodiscard]] std::vector<std::string> LogMessages() const;
  [[nodiscard]] std::string LogPath() const;
  // Statements the stand-in received (journal), in order, then cleared.
  std::vector<std::string> TakeJournal();

  // Runs T-SQL directly on the stand-in database (not journaled, no faults)
  // and returns the rows.
  [[nodiscard]] std::vector<Row> Query(const std::string& tsql) const;
  void Exec(const std::string& tsql) const;

 private:
  void WriteOdbcIni() const;
  // A Windows program's output as the Linux build's: checks that every line
  // ends in CR LF, then drops the CRs and writes the installation's paths
  // with slashes.
  [[nodiscard]] std::string FromWindowsText(const std::string& text, const std::string& what) const;
  // Runs `argv` from workDir with the DSN's environment (and the listener
  // around it on the TDS path).
  RunResult Launch(const std::vector<std::string>& argv,
                   const std::vector<std::pair<std::string, std::string>>& env);
  Path path_;
  Platform platform_;
  int listenerPid_ = -1;
  int listenerPort_ = 0;
  // Appends `text` to this test's capture file (KRANZEL_E2E_CAPTURE).
  void Note(const std::string& text) const;
  std::string capturePath_;                                 // empty: no capture
  std::vector<std::pair<std::string, std::string>> extra_;  // DSN attributes in order
};

// The messages of a log in the Linux build's form, in order, without their
// timestamps; a message with a line feed inside continues on a line of its
// own, without a timestamp.
std::vector<std::string> MessagesOf(const std::string& log);
// The messages of a Windows program's log at `logPath` as MessagesOf reads
// the Linux build's, after checking that every line ends in CR LF. Its own
// paths stay in the Windows form.
std::vector<std::string> WindowsLogMessages(const std::string& logPath);

// A fixed-length record: the fields padded (or cut) to their lengths and
// joined, followed by "\n".
std::string Record(const std::vector<std::pair<std::string, int>>& fields);

}  // namespace e2e
