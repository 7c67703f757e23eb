// The benchmark behind scripts/bench.sh (not a test): how much the tool adds
// to the statement stream it sends, and how the stand-in compares with
// Debian's SQLite ODBC driver.
//
// For 20P and IDN files of 10 000 and 200 000 records (generated here,
// deterministic, valid for their layouts) one side runs the real kranzel
// binary in a temporary installation twice on a fresh stand-in database: the
// first delivery (every UPDATE misses, the INSERT follows) and a changed
// second delivery with the same keys (every UPDATE hits; 20P then sweeps).
// The stand-in journals what it received. The other side starts from the
// same fresh database and replays those journals through raw_replay, the
// least an ODBC client can do per statement. Pairs alternate kranzel,
// replay, kranzel, replay; each child's CPU time (user + system) and peak
// RSS come from wait4, its wall time from the clock around it. Medians over
// the pairs are printed as one Markdown table, with standin_bench's figure
// and, when the TDS listener is built, the round trip through FreeTDS.
//
//   kranzel_bench [--pairs N] [--quick] [--keep]
//
// The table goes to standard output, progress to standard error.
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/installation.h"

namespace fs = std::filesystem;

namespace {

using support::kPassword;
using support::kUser;
using support::Slurp;
using support::Spit;

// What one child process cost.
struct Cost {
  int exitCode = -1;
  double wall = 0;  // seconds
  double cpu = 0;   // seconds, user + system
  long maxRssKiB = 0;
};

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "kranzel_bench: %s\n", why.c_str());
  std::exit(1);
}

// Runs argv in cwd with standard output and error sent to files; waits with
// wait4 so the child's own resource use is what is reported.
Cost Spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outPath,
           const std::string& errPath) {
  Cost cost;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) Die("wait4 failed");
  cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  cost.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  cost.maxRssKiB = usage.ru_maxrss;
  cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return cost;
}

// This process's resident set in KiB. A child's ru_maxrss also counts the
// memory it had as a fork of this process before exec, so this is the least
// that the peak RSS column can show.
long SelfRssKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Text padded with blanks (or cut) to width, as the fixed-length files
// carry their fields.
std::string Pad(const std::string& text, size_t width) {
  std::string s = text.substr(0, width);
  s.resize(width, ' ');
  return s;
}

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Num(const char* format, ...) {
  char buf[64];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// 20P: eight settings per terminal; the second delivery carries the same
// keys with other M20Ofb values.
void Write20P(const std::string& path, long records, int delivery) {
  std::string out;
  out.reserve(static_cast<size_t>(records) * 272);
  for (long i = 0; i < records; ++i) {
    out += Pad(Num("TERMINAL-%06ld", i / 8), 255);          // M20Trm
    out += Pad(Num("%02ld", 1 + (i % 8) / 2), 2);           // M20Sch
    out += Pad(Num("%ld", 1 + i % 2), 1);                   // M20Tg1
    out += "00001";                                         // M20Zz2
    out += "0800";                                          // M20Ofv
    out += Num("%04ld", (i * 7 + delivery * 13L) % 10000);  // M20Ofb
    out += '\n';
  }
  Spit(path, out);
}

// IDN, long form: forty stores, so most side-table inserts of QVS113STO
// meet an existing row, as in a real delivery; every 50th name carries an
// apostrophe. The second delivery changes the values, not the keys.
void WriteIdn(const std::string& path, long records, int delivery) {
  std::string out;
  out.reserve(static_cast<size_t>(records) * 368);
  for (long i = 0; i < records; ++i) {
    std::string line;
    line += Pad(Num("ID%08ld", i), 50);                                           // AswNum
    line += Pad(Num("%ld", 1 + i % 40), 8);                                       // AswSto
    line += "20240101";                                                           // AswGvo
    line += "20231001";                                                           // AswGbi
    line += Num("%08ld", i);                                                      // AswPnr
    line += Pad((i % 50 ? "Mitarbeiter " : "O'Neill ") + std::to_string(i), 50);  // AswNam
    line += Pad(i % 10 ? "DE" : "", 5);                                           // AswSpr
    line += Pad("1", 5);                                                          // AswBkl
    line += Pad(Num("%04ld", (i * 37) % 10000), 32);                              // AswPin
    line += Pad(i % 7 ? Num("%ld", i % 5) : "", 5);                               // AswCod
    line += Pad(Num("G%ld", i % 10), 5);                                          // AswGrp
    line += Pad("1", 5);                                                          // AswLiz
    line += Pad("1", 5);                                                          // AswMnd
    line += "01";                                                                 // AswAtp
    line += Pad(Num("Abteilung %ld", i % 20), 50);                                // AswAan
    line += "00";                                                                 // AswMta
    line += Pad(Num("%ld", delivery * 100L + i % 1000), 10);                      // AswSal
    line += Pad("0", 5);                                                          // AswBk2
    line += Pad("1", 5);                                                          // AswSta
    line += Num("202401%02d083000", delivery);                                    // AswDat
    line += Pad("QvImport", 50);                                                  // AswErf
    line += "0";                                                                  // AswMap
    line += Pad(Num("KST%05ld", i % 500 + delivery), 30);                         // AswKst
    line += Num("%03d", delivery);                                                // AswKal
    if (line.size() != 366) Die("IDN generator out of step");
    out += line;
    out += " \n";  // the long form's last data character, then the line end
  }
  Spit(path, out);
}

struct Case {
  const char* type;   // file type as passed to kranzel
  const char* table;  // the table whose rows are counted afterwards
  long records;
};

// Figures of one delivery of one case, one entry per pair.
struct Series {
  std::vector<double> kranzelWall, kranzelCpu, replayWall, replayCpu, kranzelRss;
};

class Bench {
 public:
  Bench(int pairs, bool keep)
      : layout_(support::InstallationLayout::Create("kranzel-bench")), pairs_(pairs), keep_(keep) {
    root_ = layout_.root;
    data_ = root_ + "/data";
    fs::create_directories(data_);
    for (const auto& [key, value] : support::InitialConfiguration()) {
      Cost c = Spawn({KRANZEL_INI_BIN, "set", layout_.iniPath, key, value}, "", "/dev/null", Err());
      if (c.exitCode != 0) Die("kranzel-ini set " + key + " failed: " + Slurp(Err()));
    }
    Spit(layout_.odbcDir + "/odbcinst.ini", support::OdbcInstIni(STANDIN_LIB));
    WriteOdbcIni(0);
    // Every child finds the DSN through this directory; the layout's empty
    // freetds.conf keeps the machine's FreeTDS settings out of the figure.
    setenv("ODBCSYSINI", layout_.odbcDir.c_str(), 1);
    setenv("FREETDSCONF", layout_.freetdsConf.c_str(), 1);
  }

  ~Bench() {
    if (keep_) {
      std::fprintf(stderr, "kept %s\n", root_.c_str());
    } else {
      std::error_code ec;
      fs::remove_all(root_, ec);
    }
  }

  // Runs one case: kranzel and the replay alternately, `pairs_` times.
  void Measure(const Case& c) {
    std::string name = std::string(c.type) + " " + std::to_string(c.records);
    for (int d = 1; d <= 2; ++d) {
      std::string file = Data(c, d);
      if (std::string(c.type) == "20P")
        Write20P(file, c.records, d);
      else
        WriteIdn(file, c.records, d);
    }
    Series series[2];
    for (int pair = 1; pair <= pairs_; ++pair) {
      std::fprintf(stderr, "%s, pair %d of %d: kranzel", name.c_str(), pair, pairs_);
      FreshDatabase();
      for (int d = 1; d <= 2; ++d) {
        fs::copy_file(Data(c, d), layout_.workDir + "/in/" + c.type + ".txt", fs::copy_options::overwrite_existing);
        malloc_trim(0);
        selfRssKiB_ = std::max(selfRssKiB_, SelfRssKiB());
        Cost k = Spawn({KRANZEL_BIN, std::string("in/") + c.type + ".txt", c.type}, layout_.workDir,
                       root_ + "/kranzel.out", Err());
        if (k.exitCode != 0) Die(name + ": kranzel exit " + std::to_string(k.exitCode) + "; log:\n" + Slurp(Log()));
        CheckRows(c, name);
        fs::rename(Journal(), KranzelJournal(d));
        series[d - 1].kranzelWall.push_back(k.wall);
        series[d - 1].kranzelCpu.push_back(k.cpu);
        series[d - 1].kranzelRss.push_back(static_cast<double>(k.maxRssKiB));
      }
      std::fprintf(stderr, ", replay");
      FreshDatabase();
      for (int d = 1; d <= 2; ++d) {
        Cost r = Replay(support::kDsn, KranzelJournal(d));
        if (r.exitCode != 0) Die(name + ": raw_replay exit " + std::to_string(r.exitCode) + ": " + Slurp(Err()));
        // The yardstick is only fair if it sent exactly the same stream.
        if (!SameFile(Journal(), KranzelJournal(d))) Die(name + ": the replay's journal differs from kranzel's");
        CheckRows(c, name);
        fs::remove(Journal());
        series[d - 1].replayWall.push_back(r.wall);
        series[d - 1].replayCpu.push_back(r.cpu);
      }
      std::fprintf(stderr, "\n");
      if (std::string(c.type) == "20P" && c.records == 10000) {
        // Kept for the FreeTDS round trip.
        for (int d = 1; d <= 2; ++d) fs::rename(KranzelJournal(d), root_ + "/tds-" + std::to_string(d) + ".sql");
        for (int d = 1; d <= 2; ++d) inProcessReplay_.push_back(series[d - 1].replayWall.back());
      } else {
        for (int d = 1; d <= 2; ++d) fs::remove(KranzelJournal(d));
      }
    }
    for (int d = 1; d <= 2; ++d)
      Row(name + (d == 1 ? ", first delivery" : ", second delivery"), c.records, series[d - 1]);
  }

  // standin_bench's upsert stream, as many rounds as pairs.
  void MeasureStandinBench(long records) {
    std::fprintf(stderr, "standin_bench %ld records, %d rounds\n", records, pairs_);
    std::string out = root_ + "/standin_bench.out";
    Cost c = Spawn({STANDIN_BENCH, std::to_string(records), std::to_string(pairs_)}, "", out, Err());
    std::vector<double> standin, peer, ratio;
    std::istringstream in(Slurp(out));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("round ", 0) != 0) continue;
      size_t unit = line.find(" us/statement");
      if (unit == std::string::npos) continue;
      size_t start = line.find_last_of(' ', unit - 1);
      double us = std::atof(line.substr(start + 1, unit - start - 1).c_str());
      if (line.find("stand-in") != std::string::npos)
        standin.push_back(us);
      else if (line.find("libsqliteodbc") != std::string::npos)
        peer.push_back(us);
    }
    if (c.exitCode != 0 || standin.empty() || standin.size() != peer.size()) {
      notes_.push_back("standin_bench did not run (exit " + std::to_string(c.exitCode) + "): " + Slurp(Err()));
      return;
    }
    for (size_t i = 0; i < standin.size(); ++i) ratio.push_back(standin[i] / peer[i]);
    char row[512];
    std::snprintf(row, sizeof row,
                  "| standin_bench upsert stream: stand-in / libsqliteodbc (WAL, synchronous=NORMAL) | %ld | "
                  "%.1f µs/stmt | %.1f µs/stmt | – | %.2f | – |",
                  records, Median(standin), Median(peer), Median(ratio));
    rows_.emplace_back(row);
  }

  // The 20P 10k journals replayed through FreeTDS to the stand-in's TDS
  // listener on loopback, beside the same replay in process.
  void MeasureFreeTds() {
    const std::string server = STANDIN_SERVER;
    if (server.empty() || !fs::exists(server)) {
      notes_.emplace_back(
          "FreeTDS round trip per statement: skipped, the TDS listener kranzel-standin-server is not "
          "part of this build.");
      return;
    }
    if (!fs::exists(support::TdsDriver())) {
      notes_.push_back("FreeTDS round trip per statement: skipped, " + support::TdsDriver() +
                       " is missing (package tdsodbc).");
      return;
    }
    if (inProcessReplay_.empty() || !fs::exists(root_ + "/tds-1.sql")) {
      notes_.emplace_back("FreeTDS round trip per statement: skipped, the 20P 10000 case did not run.");
      return;
    }
    long statements = 0;
    for (int d = 1; d <= 2; ++d) {
      std::string text = Slurp(root_ + "/tds-" + std::to_string(d) + ".sql");
      statements += std::count(text.begin(), text.end(), '\n');
    }
    std::vector<double> tds;
    for (int pair = 1; pair <= pairs_; ++pair) {
      std::fprintf(stderr, "FreeTDS round trip, pair %d of %d\n", pair, pairs_);
      FreshDatabase();
      int port = FreePort();
      WriteOdbcIni(port);
      // The listener takes its password from a file, never its command line.
      const std::string passwordFile = root_ + "/listener.password";
      Spit(passwordFile, std::string(kPassword) + "\n");
      pid_t pid = fork();
      if (pid == 0) {
        int err = open(Err().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) {
          dup2(err, 1);
          dup2(err, 2);
        }
        execl(server.c_str(), server.c_str(), "--port", std::to_string(port).c_str(), "--database", Database().c_str(),
              "--user", kUser, "--password-file", passwordFile.c_str(), "--journal", Journal().c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
      }
      bool up = WaitForPort(port);
      double wall = 0;
      bool ok = up;
      for (int d = 1; d <= 2 && ok; ++d) {
        Cost r = Replay("KRANZELTDS", root_ + "/tds-" + std::to_string(d) + ".sql");
        ok = r.exitCode == 0;
        wall += r.wall;
      }
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      if (ok) CheckRows({"20P", "MGSST20P", 10000}, "FreeTDS round trip");
      if (!ok) {
        notes_.push_back(std::string("FreeTDS round trip per statement: failed (") +
                         (up ? "the replay through FreeTDS failed" : "the listener did not come up") +
                         "): " + Slurp(Err()));
        return;
      }
      tds.push_back(wall);
    }
    std::vector<double> inProcess;
    for (size_t i = 0; i + 1 < inProcessReplay_.size(); i += 2)
      inProcess.push_back(inProcessReplay_[i] + inProcessReplay_[i + 1]);
    double perTds = Median(tds) / static_cast<double>(statements) * 1e6;
    double perLocal = Median(inProcess) / static_cast<double>(statements) * 1e6;
    char row[512];
    std::snprintf(row, sizeof row,
                  "| (optional) FreeTDS round trip per statement: replay of 20P 10000 via listener / in process "
                  "| %ld | %.1f µs/stmt | %.1f µs/stmt | – | %.2f | – |",
                  statements, perTds, perLocal, perTds / perLocal);
    rows_.emplace_back(row);
  }

  void Print(int pairs, bool quick) const {
    std::printf(
        "| Case | Records | kranzel rec/s | replay rec/s | CPU kranzel/replay | wall kranzel/replay | "
        "kranzel peak RSS |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    for (const std::string& r : rows_) std::printf("%s\n", r.c_str());
    std::printf(
        "\nMedians of %d pair%s%s. %s The bench process held at most %.1f MiB when it started kranzel "
        "(a peak RSS at that value may be the bench's, not kranzel's).\n",
        pairs, pairs == 1 ? "" : "s", quick ? " (--quick: 10 000 only)" : "", Machine().c_str(),
        static_cast<double>(selfRssKiB_) / 1024);
    for (const std::string& n : notes_) std::printf("\nNote: %s\n", n.c_str());
  }

 private:
  [[nodiscard]] std::string Err() const { return root_ + "/stderr.txt"; }
  [[nodiscard]] std::string Log() const { return layout_.logPath; }
  [[nodiscard]] std::string Database() const { return layout_.dbPath; }
  [[nodiscard]] std::string Journal() const { return layout_.journalPath; }
  [[nodiscard]] std::string KranzelJournal(int d) const { return root_ + "/kranzel-" + std::to_string(d) + ".sql"; }
  [[nodiscard]] std::string Data(const Case& c, int d) const {
    return data_ + "/" + c.type + "-" + std::to_string(c.records) + "-" + std::to_string(d) + ".txt";
  }

  // The stand-in DSN kranzel uses, and with a port the FreeTDS DSN that
  // reaches the TDS listener.
  void WriteOdbcIni(int tdsPort) const {
    std::string ini = support::DsnSection(support::kDsn, support::StandinAttributes(layout_));
    if (tdsPort > 0) {
      ini += '\n';
      ini += support::DsnSection("KRANZELTDS", support::FreeTdsAttributes(tdsPort));
    }
    Spit(layout_.odbcDir + "/odbc.ini", ini);
  }

  void FreshDatabase() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(Database() + suffix);
    fs::remove(Journal());
    Cost c = Spawn(support::CreateDatabaseCommand(STANDIN_TOOL, Database()), "", "/dev/null", Err());
    if (c.exitCode != 0) Die("kranzel-standin create failed: " + Slurp(Err()));
  }

  Cost Replay(const char* dsn, const std::string& journal) {
    return Spawn({RAW_REPLAY, dsn, kUser, kPassword, journal}, "", root_ + "/replay.out", Err());
  }

  // Both sides must leave every record in the table.
  void CheckRows(const Case& c, const std::string& name) {
    std::string out = root_ + "/count.out";
    Cost q = Spawn({STANDIN_TOOL, "exec", Database(), std::string("SELECT COUNT(*) FROM QVSYSTEM.") + c.table}, "", out,
                   Err());
    long rows = std::atol(Slurp(out).c_str());
    if (q.exitCode != 0 || rows != c.records)
      Die(name + ": " + std::to_string(rows) + " rows in " + c.table + " instead of " + std::to_string(c.records));
  }

  static bool SameFile(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (fa && fb) {
      fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
      fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
      if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0)
        return false;
    }
    return fa.eof() && fb.eof();
  }

  void Row(const std::string& name, long records, const Series& s) {
    std::vector<double> cpuRatio, wallRatio;
    for (size_t i = 0; i < s.kranzelWall.size(); ++i) {
      cpuRatio.push_back(s.replayCpu[i] > 0 ? s.kranzelCpu[i] / s.replayCpu[i] : 0);
      wallRatio.push_back(s.kranzelWall[i] / s.replayWall[i]);
    }
    char row[512];
    std::snprintf(row, sizeof row, "| %s | %ld | %.0f | %.0f | %.3f | %.3f | %.1f MiB |", name.c_str(), records,
                  static_cast<double>(records) / Median(s.kranzelWall),
                  static_cast<double>(records) / Median(s.replayWall), Median(cpuRatio), Median(wallRatio),
                  Median(s.kranzelRss) / 1024);
    rows_.emplace_back(row);
  }

  static int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      port = ntohs(addr.sin_port);
    if (fd >= 0) close(fd);
    if (port == 0) Die("no free loopback port");
    return port;
  }

  static bool WaitForPort(int port) {
    for (int i = 0; i < 100; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(static_cast<uint16_t>(port));
      bool up = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      if (fd >= 0) close(fd);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  static std::string Machine() {
    std::string model = "unknown CPU";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
      if (line.rfind("model name", 0) == 0) {
        model = line.substr(line.find(':') + 2);
        break;
      }
    }
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    struct utsname u {};
    uname(&u);
    char buf[512];
    std::snprintf(buf, sizeof buf, "Machine: %s, %ld cores, %s %s, load average %.2f at the end.", model.c_str(),
                  sysconf(_SC_NPROCESSORS_ONLN), u.sysname, u.machine, load[0]);
    return buf;
  }

  support::InstallationLayout layout_;
  int pairs_;
  bool keep_;
  std::string root_, data_;
  std::vector<std::string> rows_, notes_;
  long selfRssKiB_ = 0;
  std::vector<double> inProcessReplay_;  // 20P 10k replay walls: first, second, first, second...
};

}  // namespace

int main(int argc, char** argv) {
  int pairs = 5;
  bool quick = false, keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quick") {
      quick = true;
    } else if (a == "--keep") {
      keep = true;
    } else if (a == "--pairs" && i + 1 < argc) {
      pairs = std::atoi(argv[++i]);
    } else {
      pairs = 0;
      break;
    }
  }
  if (pairs <= 0) {
    std::fprintf(stderr, "usage: kranzel_bench [--pairs N] [--quick] [--keep]\n");
    return 2;
  }
  // The installation's files are written by the shared helpers, which throw
  // when they cannot.
  try {
    Bench bench(pairs, keep);
    std::vector<long> sizes = {10000};
    if (!quick) sizes.push_back(200000);
    for (long n : sizes) {
      bench.Measure({"20P", "MGSST20P", n});
      bench.Measure({"IDN", "Qvs301Asw", n});
    }
    bench.MeasureStandinBench(10000);
    bench.MeasureFreeTds();
    bench.Print(pairs, quick);
  } catch (const std::exception& e) {
    Die(e.what());
  }
  return 0;
}
