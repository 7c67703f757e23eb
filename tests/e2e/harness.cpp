// End-to-end harness: temporary installation, stand-in database, real runs.
#include "e2e/harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "config/ini_writer.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

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

}  // namespace

Installation::Installation() {
  std::string tmpl = (fs::temp_directory_path() / "kranzel-e2e-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
  root = tmpl;
  workDir = root + "/x/y";
  odbcDir = root + "/odbc";
  dbPath = odbcDir + "/db.sqlite";
  journalPath = odbcDir + "/journal.sql";
  controlPath = odbcDir + "/control";
  fs::create_directories(root + "/Files");
  fs::create_directories(root + "/Valdura_php/log");
  fs::create_directories(workDir + "/in");
  fs::create_directories(odbcDir);
  Spit(controlPath, "");
  SetIni("LOGIN", "kranzel");
  SetIni("PASS", "geheim");
  SetIni("DB_SYSTEM", "MSSQL");
  SetIni("DATABASE", "KRANZELDB");
  RunResult made = Capture({STANDIN_TOOL, "create", dbPath,
                            std::string(KRANZEL_SOURCE_DIR) + "/schema/qvsystem.sql"},
                           "", {}, odbcDir + "/stderr.txt");
  if (made.exitCode != 0)
    throw std::runtime_error("kranzel-standin create failed: " + Slurp(odbcDir + "/stderr.txt"));
  extra_ = {{"Driver", "KranzelStandin"}, {"Database", dbPath},  {"User", "kranzel"},
            {"Password", "geheim"},       {"Journal", journalPath}, {"Control", controlPath}};
  Spit(odbcDir + "/odbcinst.ini",
       "[KranzelStandin]\nDescription = SQL Server stand-in\nDriver = " STANDIN_LIB "\n");
  WriteOdbcIni();
}

Installation::~Installation() {
  if (Env("KRANZEL_KEEP_E2E").empty()) {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
}

void Installation::WriteOdbcIni() const {
  std::string ini = "[KRANZELDB]\n";
  for (const auto& [k, v] : extra_) ini += k + " = " + v + "\n";
  Spit(odbcDir + "/odbc.ini", ini);
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
  if (!ini::SetValue(root + "/Files/Valdura.Ini", key, value, error))
    throw std::runtime_error("ini::SetValue: " + error);
}

std::string Installation::WriteFile(const std::string& path, const std::string& content) {
  fs::path p = fs::path(workDir) / path;
  fs::create_directories(p.parent_path());
  Spit(p.string(), content);
  return path;
}

bool Installation::Exists(const std::string& pathFromWorkDir) const {
  return fs::exists(fs::path(workDir) / pathFromWorkDir);
}

std::string Installation::ReadFile(const std::string& pathFromWorkDir) const {
  return Slurp((fs::path(workDir) / pathFromWorkDir).string());
}

RunResult Installation::Run(const std::vector<std::string>& args, bool fast,
                            const std::vector<std::pair<std::string, std::string>>& env) {
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
    argv.push_back("FAKETIME=+0 x1000");
  }
  if (!preload.empty()) argv.push_back("LD_PRELOAD=" + preload);
#else
  if (!preload.empty()) argv.push_back("LD_PRELOAD=" + preload);
  if (fast) argv.insert(argv.end(), {"faketime", "-f", "+0 x1000"});
#endif
  argv.push_back(KRANZEL_BIN);
  argv.insert(argv.end(), args.begin(), args.end());
  // A sanitizer build must accept the preloads ahead of its runtime.
  std::string asan = Env("ASAN_OPTIONS");
  asan = asan.empty() ? "verify_asan_link_order=0" : asan + ":verify_asan_link_order=0";
  return Capture(argv, workDir, {{"ODBCSYSINI", odbcDir}, {"ASAN_OPTIONS", asan}},
                 root + "/stderr.txt");
}

std::string Installation::Stderr() const { return Slurp(root + "/stderr.txt"); }

std::string Installation::LogPath() const { return root + "/Valdura_php/log/kranzel.log"; }

std::vector<std::string> Installation::LogMessages() const {
  std::vector<std::string> out;
  std::istringstream in(Slurp(LogPath()));
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
  std::istringstream in(Slurp(journalPath));
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

void Installation::Exec(const std::string& tsql) const { Query(tsql); }

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
