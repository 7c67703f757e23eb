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
RunResult Capture(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::vector<std::pair<std::string, std::string>>& env,
                  const std::string& errPath) {
  int pipefd[2];
  if (pipe(pipefd) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 1);
    close(pipefd[0]);
    close(pipefd[1]);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
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

RunResult Installation::Run(const std::vector<std::string>& args, bool fast) {
  std::vector<std::string> argv;
  if (fast) argv = {"faketime", "-f", "+0 x1000"};
  argv.push_back(KRANZEL_BIN);
  argv.insert(argv.end(), args.begin(), args.end());
  // A sanitizer build must accept faketime's preload ahead of its runtime.
  std::string asan = Env("ASAN_OPTIONS");
  asan = asan.empty() ? "verify_asan_link_order=0" : asan + ":verify_asan_link_order=0";
  return RunCommand(argv, {{"ASAN_OPTIONS", asan}});
}

RunResult Installation::RunCommand(const std::vector<std::string>& argv,
                                   const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::pair<std::string, std::string>> all = {{"ODBCSYSINI", odbcDir}};
  all.insert(all.end(), env.begin(), env.end());
  return Capture(argv, workDir, all, root + "/stderr.txt");
}

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
