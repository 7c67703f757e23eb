// End-to-end harness: temporary installation, stand-in database, real runs.
#include "e2e/harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "config/ini_writer.h"
#include "support/files.h"
#include "support/installation.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

using support::AllCrLf;
using support::Slurp;
using support::Spit;

// Runs `argv` in `cwd` with extra environment; returns exit code, stdout.
// Everything the child needs is prepared before the fork, so that runs may
// be started from several threads at once.
RunResult Capture(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::vector<std::pair<std::string, std::string>>& env,
                  const std::string& errPath) {
  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [k, v] : env) replaced = replaced || k == name;
    if (!replaced) envText.push_back(entry);
  }
  for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 1);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(pipefd[1]);
  RunResult r;
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A sanitizer build must accept faketime's preload ahead of its runtime.
std::string AsanOptions() {
  std::string asan = Env("ASAN_OPTIONS");
  return asan.empty() ? "verify_asan_link_order=0" : asan + ":verify_asan_link_order=0";
}

#ifndef KRANZEL_WINDOWS_DIR
#define KRANZEL_WINDOWS_DIR ""
#endif
#ifndef KRANZEL_WINE
#define KRANZEL_WINE ""
#endif
#ifndef KRANZEL_WINESERVER
#define KRANZEL_WINESERVER ""
#endif

bool Found(const std::string& program) {
  return !program.empty() && program.find("NOTFOUND") == std::string::npos &&
         access(program.c_str(), X_OK) == 0;
}

std::string g_winePrefix;  // the WineSession's prefix, empty outside one

// `argv` as one shell command line with the Wine environment in front.
std::string WineShell(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& [k, v] : WineEnvironment()) line += k + "='" + v + "' ";
  for (const std::string& a : argv) line += "'" + a + "' ";
  return line;
}

// A Windows program's text as the Linux build's: CR LF read as a line end,
// and the installation's own paths, which the Windows build names as its
// installations know them (..\..\Valdura_php\log\kranzel.log), in the Linux
// build's form (../../Valdura_php/log/kranzel.log).
std::string AsLinuxText(const std::string& text) {
  std::string out = support::LfText(text);
  for (const auto& [windows, linux] :
       {std::pair<std::string, std::string>{R"(..\..\Valdura_php\log\)", "../../Valdura_php/log/"},
        {R"(..\..\Files\)", "../../Files/"}})
    for (std::size_t at = out.find(windows); at != std::string::npos; at = out.find(windows, at))
      out.replace(at, windows.size(), linux);
  return out;
}

}  // namespace

Platform DefaultPlatform() {
  std::string v = Env("KRANZEL_E2E_WINE");
  return v.empty() || v == "0" ? Platform::Linux : Platform::Windows;
}

std::string WindowsProgram(const std::string& linuxProgram) {
  std::string name = fs::path(linuxProgram).filename().string() + ".exe";
  std::string exe = std::string(KRANZEL_WINDOWS_DIR) + "/" + name;
  return std::string(KRANZEL_WINDOWS_DIR).empty() || !fs::exists(exe) ? "" : exe;
}

std::string WineUnavailable() {
#ifdef KRANZEL_SANITIZE_BUILD
  return "the stand-in driver of a sanitizer build cannot be loaded into Wine";
#endif
  if (WindowsProgram(KRANZEL_BIN).empty())
    return "no kranzel.exe in \"" KRANZEL_WINDOWS_DIR "\" (scripts/build-windows.sh makes one)";
  if (!Found(KRANZEL_WINE)) return "Wine is not installed (package wine64)";
  if (!Found(KRANZEL_WINESERVER)) return "wineserver is not installed (package wine64)";
#ifndef FAKETIME_LIB
  if (std::system("command -v faketime >/dev/null 2>&1") != 0)
    return "faketime is not installed (package faketime)";
#endif
  return "";
}

std::vector<std::pair<std::string, std::string>> WineEnvironment() {
  // mscoree and mshtml off: Wine would otherwise offer to install Mono and
  // Gecko, which console programs do not need. NO_FAKE_STAT: the fake clock
  // leaves the file times alone.
  return {{"WINEPREFIX", g_winePrefix},
          {"WINEDEBUG", "-all"},
          {"WINEDLLOVERRIDES", "mscoree,mshtml="},
          {"NO_FAKE_STAT", "1"}};
}

void WineSession::Register() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  testing::AddGlobalTestEnvironment(new WineSession);
}

void WineSession::SetUp() {
  if (const std::string why = WineUnavailable(); !why.empty()) {
    // ctest reports exit 77 as skipped; scripts/test.sh fails on it.
    std::cout << "Windows programs under Wine skipped: " << why << std::endl;
    std::exit(77);
  }
  g_winePrefix = support::MakeTempDir("kranzel-wine");
  auto start = std::chrono::steady_clock::now();
  // The server first, on the real clock and persistent; then the prefix and
  // the services every session starts, on the real clock too and with their
  // output elsewhere (they outlive the boot, and a pipe they held open would
  // never reach its end).
  int server = std::system((WineShell({KRANZEL_WINESERVER, "-p"}) + ">/dev/null 2>&1").c_str());
  int boot = std::system(
      (WineShell({KRANZEL_WINE, "wineboot", "-i"}) + "</dev/null >/dev/null 2>&1").c_str());
  // Wine updates a prefix whose stamp differs from its own files' times;
  // none of these runs needs that, and an update in the middle of a run
  // ends it ("configuration ... has been updated").
  Spit(g_winePrefix + "/.update-timestamp", "disable\n");
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "Wine prefix " << g_winePrefix << " ready in " << seconds << " s" << std::endl;
  if (server != 0 || boot != 0)
    throw std::runtime_error("the Wine prefix could not be made (wineserver " +
                             std::to_string(server) + ", wineboot " + std::to_string(boot) + ")");
}

void WineSession::TearDown() {
  if (g_winePrefix.empty()) return;
  [[maybe_unused]] int killed =
      std::system((WineShell({KRANZEL_WINESERVER, "-k"}) + ">/dev/null 2>&1").c_str());
  std::error_code ec;
  fs::remove_all(g_winePrefix, ec);
  g_winePrefix.clear();
  if (DefaultPlatform() == Platform::Windows) {
    const testing::UnitTest* u = testing::UnitTest::GetInstance();
    std::cout << "Windows programs under Wine: " << u->successful_test_count() << " cases passed, "
              << u->failed_test_count() << " failed, " << u->skipped_test_count()
              << " skipped as they cannot apply to them (reasons above)" << std::endl;
  }
}

namespace {
// KRANZEL_E2E_WINE brings the session to every test program of the harness.
const bool kWineSessionRegistered = [] {
  if (DefaultPlatform() == Platform::Windows) WineSession::Register();
  return true;
}();
}  // namespace

Path DefaultPath() {
  std::string v = Env("KRANZEL_E2E_TDS");
  return v.empty() || v == "0" ? Path::InProcess : Path::Tds;
}

std::string TdsUnavailable() {
#ifndef STANDIN_SERVER
  return "kranzel-standin-server is not built";
#else
  if (access(support::TdsDriver().c_str(), R_OK) != 0)
    return "the FreeTDS ODBC driver (package tdsodbc) is not installed";
  return "";
#endif
}

Installation::Installation(Path path, Platform platform) : path_(path), platform_(platform) {
  if (platform_ == Platform::Windows && g_winePrefix.empty())
    throw std::runtime_error("a Windows installation needs the WineSession");
  if (path_ == Path::Tds && !TdsUnavailable().empty())
    throw std::runtime_error("KRANZEL_E2E_TDS: " + TdsUnavailable());
  const support::InstallationLayout layout = support::InstallationLayout::Create("kranzel-e2e");
  root = layout.root;
  workDir = layout.workDir;
  odbcDir = layout.odbcDir;
  dbPath = layout.dbPath;
  journalPath = layout.journalPath;
  controlPath = layout.controlPath;
  for (const auto& [key, value] : support::InitialConfiguration()) SetIni(key, value);
  RunResult made = Capture(support::CreateDatabaseCommand(STANDIN_TOOL, dbPath), "", {},
                           odbcDir + "/stderr.txt");
  if (made.exitCode != 0)
    throw std::runtime_error("kranzel-standin create failed: " + Slurp(odbcDir + "/stderr.txt"));
  extra_ = support::StandinAttributes(layout);
  extra_.emplace_back("Control", controlPath);
  Spit(odbcDir + "/odbcinst.ini", support::OdbcInstIni(STANDIN_LIB));
  WriteOdbcIni();
  if (const std::string dir = Env("KRANZEL_E2E_CAPTURE"); !dir.empty()) {
    const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
    capturePath_ =
        dir + "/" + (t ? std::string(t->test_suite_name()) + "." + t->name() : "none") + ".txt";
    Note("== installation\n");
  }
}

void Installation::Note(const std::string& text) const {
  if (capturePath_.empty()) return;
  // The temporary root differs from run to run; nothing else may.
  std::string out = text;
  for (std::size_t at = out.find(root); at != std::string::npos; at = out.find(root, at))
    out.replace(at, root.size(), "<root>");
  std::ofstream(capturePath_, std::ios::binary | std::ios::app) << out;
}

Installation::~Installation() {
  if (!capturePath_.empty()) {
    Note("== journal\n" + Slurp(journalPath) + "== log\n");
    for (const std::string& m : LogMessages()) Note(m + "\n");
    Note("== stderr\n" + Slurp(root + "/stderr.txt"));
  }
  if (listenerPid_ > 0) {
    kill(listenerPid_, SIGTERM);
    waitpid(listenerPid_, nullptr, 0);
  }
  if (Env("KRANZEL_KEEP_E2E").empty()) {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
}

void Installation::WriteOdbcIni() const {
  Spit(odbcDir + "/odbc.ini",
       support::DsnSection(
           support::kDsn, path_ == Path::Tds ? support::FreeTdsAttributes(listenerPort_) : extra_));
}

std::vector<std::pair<std::string, std::string>> Installation::OdbcEnvironment() const {
  return {{"ODBCSYSINI", odbcDir},
          {"FREETDSCONF", odbcDir + "/freetds.conf"},
          {"ASAN_OPTIONS", AsanOptions()}};
}

int Installation::StartListener(const std::vector<std::string>& extraArgs) {
#ifndef STANDIN_SERVER
  (void)extraArgs;
  throw std::runtime_error("kranzel-standin-server is not built");
#else
  if (listenerPid_ > 0) StopListener();
  std::vector<std::string> argv = {STANDIN_SERVER, "--port", "0"};
  // The DSN's attributes the in-process driver would read.
  for (const auto& [k, v] : extra_) {
    if (k == "Database") argv.insert(argv.end(), {"--database", v});
    if (k == "User") argv.insert(argv.end(), {"--user", v});
    if (k == "Password") {
      // Through a file: the listener refuses a password on its command line.
      Spit(root + "/listener.password", v + "\n");
      argv.insert(argv.end(), {"--password-file", root + "/listener.password"});
    }
    if (k == "Journal") argv.insert(argv.end(), {"--journal", v});
    if (k == "Control") argv.insert(argv.end(), {"--control", v});
  }
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe");
  std::string logPath = root + "/listener.log";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 1);
    close(pipefd[0]);
    close(pipefd[1]);
    int err = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipefd[1]);
  // The listener's first line names the port it bound: no race for a port.
  std::string line;
  char c;
  while (read(pipefd[0], &c, 1) == 1 && c != '\n') line += c;
  close(pipefd[0]);
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) {
    waitpid(pid, nullptr, 0);
    throw std::runtime_error("kranzel-standin-server did not start: " + Slurp(logPath));
  }
  listenerPid_ = pid;
  listenerPort_ = std::stoi(line.substr(prefix.size()));
  WriteOdbcIni();
  return listenerPort_;
#endif
}

void Installation::StopListener() {
  if (listenerPid_ <= 0) return;
  kill(listenerPid_, SIGTERM);
  int status = 0;
  waitpid(listenerPid_, &status, 0);
  listenerPid_ = -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("kranzel-standin-server did not stop cleanly (status " +
                             std::to_string(status) + "): " + Slurp(root + "/listener.log"));
}

void Installation::SetDsnAttribute(const std::string& key, const std::string& value) {
  bool found = false;
  for (auto it = extra_.begin(); it != extra_.end(); ++it) {
    if (it->first == key) {
      found = true;
      if (value.empty()) {
        extra_.erase(it);
      } else {
        it->second = value;
      }
      break;
    }
  }
  if (!found && !value.empty()) extra_.emplace_back(key, value);
  WriteOdbcIni();
}

void Installation::SetControl(const std::string& directives) { Spit(controlPath, directives); }

void Installation::SetIni(const std::string& key, const std::string& value) {
  std::string error;
  if (!config::ini::SetValue(root + "/Files/Valdura.Ini", key, value, error))
    throw std::runtime_error("ini::SetValue: " + error);
}

std::string Installation::WriteFile(const std::string& path, const std::string& content) {
  Spit((fs::path(workDir) / path).string(), content);
  return path;
}

bool Installation::Exists(const std::string& pathFromWorkDir) const {
  return fs::exists(fs::path(workDir) / pathFromWorkDir);
}

std::string Installation::ReadFile(const std::string& pathFromWorkDir) const {
  return Slurp((fs::path(workDir) / pathFromWorkDir).string());
}

RunResult Installation::Launch(const std::vector<std::string>& argv,
                               const std::vector<std::pair<std::string, std::string>>& env) {
  RunResult r;
  if (path_ == Path::InProcess) {
    r = Capture(argv, workDir, env, root + "/stderr.txt");
  } else {
    // A fresh listener per run reads the control file afresh, as a fresh
    // kranzel process loads the in-process driver afresh.
    StartListener();
    r = Capture(argv, workDir, env, root + "/stderr.txt");
    StopListener();
  }
  // Neither kranzel (0, 90, 99) nor kranzel-ini (0, 2) ends with 1: a 1
  // comes from what runs in front of them (the fake clock, Wine), so say
  // what they reported.
  const bool check = std::any_of(argv.begin(), argv.end(), [](const std::string& a) {
    return a.find("kranzel-check") != std::string::npos;
  });
  if (r.exitCode == 1 && !check)
    std::cout << "exit 1 from " << argv.back() << "; standard error so far:\n"
              << Slurp(root + "/stderr.txt") << std::endl;
  return r;
}

std::string Installation::FromWindowsText(const std::string& text, const std::string& what) const {
  EXPECT_TRUE(AllCrLf(text)) << what << " of a Windows program has a line not ended by CR LF:\n"
                             << text;
  return AsLinuxText(text);
}

RunResult Installation::RunUnderWine(const std::string& exe, const std::vector<std::string>& args,
                                     bool fast,
                                     const std::vector<std::pair<std::string, std::string>>& env) {
  if (exe.empty()) throw std::runtime_error("no such Windows program in the build");
  std::vector<std::string> argv = {"timeout", "-s", "KILL", std::to_string(kRunTimeoutSeconds),
                                   "env"};
  for (const auto& [k, v] : env) {
    // A preload library of the host never reaches into a Windows program.
    if (k == "LD_PRELOAD")
      throw std::runtime_error("LD_PRELOAD cannot apply to a Windows program: skip the case");
    argv.push_back(k + "=" + v);
  }
  for (const auto& [k, v] : WineEnvironment()) argv.push_back(k + "=" + v);
  if (fast) {
#ifdef FAKETIME_LIB
    argv.insert(argv.end(), {"LD_PRELOAD=" FAKETIME_LIB, "FAKETIME=+0 x1000"});
#else
    argv.insert(argv.end(), {"faketime", "-f", "+0 x1000"});
#endif
  }
  argv.insert(argv.end(), {KRANZEL_WINE, exe});
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = Launch(argv, OdbcEnvironment());
  r.raw = r.out;
  return r;
}

RunResult Installation::Run(const std::vector<std::string>& args, bool fast,
                            const std::vector<std::pair<std::string, std::string>>& env) {
  if (platform_ == Platform::Windows) {
    RunResult r = RunUnderWine(WindowsProgram(KRANZEL_BIN), args, fast, env);
    r.out = FromWindowsText(r.raw, "the standard output");
    std::string line = "== run";
    for (const std::string& a : args) line += " [" + a + "]";
    Note(line + " -> " + std::to_string(r.exitCode) + "\n" + r.out + "\n");
    return r;
  }
  // The test's variables and the fake clock reach kranzel alone, through
  // env(1): timeout(1) keeps the real clock, so its limit is in real seconds.
  std::vector<std::string> argv = {"timeout", "-s", "KILL", std::to_string(kRunTimeoutSeconds),
                                   "env"};
  std::string preload;
  for (const auto& [k, v] : env) {
    if (k == "LD_PRELOAD") {
      preload = v;
    } else {
      argv.push_back(k + "=" + v);
    }
  }
#ifdef FAKETIME_LIB
  // libfaketime is preloaded directly, not through the faketime wrapper: the
  // wrapper makes a semaphore and shared memory in /dev/shm named after its
  // process id and exits with 1 when a pair of that name is left over from
  // a wrapper that was killed, so a reused process id failed a random run.
  if (fast) {
    preload = preload.empty() ? FAKETIME_LIB : preload + ":" + FAKETIME_LIB;
    argv.emplace_back("FAKETIME=+0 x1000");
  }
  if (!preload.empty()) argv.push_back("LD_PRELOAD=" + preload);
#else
  if (!preload.empty()) argv.push_back("LD_PRELOAD=" + preload);
  if (fast) argv.insert(argv.end(), {"faketime", "-f", "+0 x1000"});
#endif
  argv.emplace_back(KRANZEL_BIN);
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = Launch(argv, OdbcEnvironment());
  r.raw = r.out;
  std::string line = "== run";
  for (const std::string& a : args) line += " [" + a + "]";
  Note(line + " -> " + std::to_string(r.exitCode) + "\n" + r.out + "\n");
  return r;
}

RunResult Installation::RunCommand(const std::vector<std::string>& argv,
                                   const std::vector<std::pair<std::string, std::string>>& env) {
  if (platform_ == Platform::Windows && !argv.empty() &&
      (argv[0] == KRANZEL_BIN || argv[0] == KRANZEL_INI_BIN || argv[0] == KRANZEL_CHECK_BIN)) {
    RunResult r = RunUnderWine(WindowsProgram(argv[0]), {argv.begin() + 1, argv.end()}, false, env);
    r.out = FromWindowsText(r.raw, "the standard output");
    return r;
  }
  std::vector<std::pair<std::string, std::string>> all = OdbcEnvironment();
  all.insert(all.end(), env.begin(), env.end());
  RunResult r = Capture(argv, workDir, all, root + "/stderr.txt");
  r.raw = r.out;
  return r;
}

std::string Installation::Stderr() const {
  const std::string text = Slurp(root + "/stderr.txt");
  return platform_ == Platform::Windows ? AsLinuxText(text) : text;
}

std::string Installation::ReadLog() const {
  const std::string raw = Slurp(LogPath());
  return platform_ == Platform::Windows ? FromWindowsText(raw, "the log") : raw;
}

std::string Installation::LogPath() const { return root + "/Valdura_php/log/kranzel.log"; }

std::vector<std::string> Installation::LogMessages() const { return MessagesOf(ReadLog()); }

std::vector<std::string> WindowsLogMessages(const std::string& logPath) {
  const std::string raw = Slurp(logPath);
  EXPECT_TRUE(AllCrLf(raw)) << "a line of the Windows log not ended by CR LF:\n" << raw;
  return MessagesOf(support::LfText(raw));
}

std::vector<std::string> MessagesOf(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  // A message with a line feed inside continues on a line of its own,
  // without a timestamp.
  auto stamped = [](const std::string& l) {
    return l.size() >= 20 && l[4] == '-' && l[7] == '-' && l[10] == ' ' && l[13] == ':' &&
           l[16] == ':' && l[19] == ' ';
  };
  while (std::getline(in, line)) out.push_back(stamped(line) ? line.substr(20) : line);
  return out;
}

std::vector<std::string> Installation::TakeJournal() {
  std::vector<std::string> out;
  const std::string journal = Slurp(journalPath);
  Note("== journal\n" + journal);
  std::istringstream in(journal);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  Spit(journalPath, "");
  return out;
}

std::vector<Row> Installation::Query(const std::string& tsql) const {
  RunResult r = Capture({STANDIN_TOOL, "exec", dbPath, tsql}, "", {}, root + "/query-stderr.txt");
  if (r.exitCode != 0)
    throw std::runtime_error("query failed: " + tsql + ": " + Slurp(root + "/query-stderr.txt"));
  std::vector<Row> rows;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    Row row;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = line.find('\t', start);
      row.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(row);
  }
  return rows;
}

// A statement run for its effect returns no rows worth keeping.
void Installation::Exec(const std::string& tsql) const { static_cast<void>(Query(tsql)); }

std::string Record(const std::vector<std::pair<std::string, int>>& fields) {
  std::string line;
  for (const auto& [value, length] : fields) {
    std::string v = value.substr(0, static_cast<std::size_t>(length));
    v.resize(static_cast<std::size_t>(length), ' ');
    line += v;
  }
  return line + "\n";
}

}  // namespace e2e
