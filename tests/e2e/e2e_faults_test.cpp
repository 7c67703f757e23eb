// Faults met in production, end to end: odd deliveries (a directory, a
// FIFO), a work file that fails to read part-way, runs started at the same
// time for one table or one work file, and a lock file that cannot be made.
// In each case no row may be lost and no failure reported as success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <thread>

#include "e2e/harness.h"
#include "e2e/import_expect.h"
#include "platform/platform.h"

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::kTimestampQuery;
using e2e::Row;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

std::string Line20P(const std::string& trm, const std::string& ofb) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {ofb, 4}});
}

std::string Line41P(const std::string& trm) {
  return e2e::Record(
      {{trm, 255}, {"F", 3}, {"Z", 3}, {"W", 2}, {"12345", 5}, {"1", 1}, {"0800", 4}, {"1700", 4}});
}

// `count` 20P records keyed <prefix>0, <prefix>1, ...
std::string File20P(const std::string& prefix, int count, const std::string& ofb = "1") {
  std::string file;
  for (int i = 0; i < count; ++i) file += Line20P(prefix + std::to_string(i), ofb);
  return file;
}

std::set<std::string> Keys(const Installation& db, const std::string& query) {
  std::set<std::string> keys;
  for (const Row& row : db.Query(query)) keys.insert(row.at(0));
  return keys;
}

std::set<std::string> KeySet(const std::string& prefix, int count) {
  std::set<std::string> keys;
  for (int i = 0; i < count; ++i) keys.insert(prefix + std::to_string(i));
  return keys;
}

const char* k20PFailed =
    "Die Schnittstellendatei vom Dateityp '20P' konnte nicht importiert werden!";

// The log after five attempts that each ended with `line`.
std::vector<std::string> FiveTimes(const std::string& line, const char* failed) {
  std::vector<std::string> log(5, line);
  log.emplace_back(failed);
  return log;
}

// Waits (at most a minute) until the log holds `count` lines equal to `line`.
bool WaitForLogLines(const Installation& db, const std::string& line, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::size_t seen = 0;
    if (fs::exists(db.LogPath()))
      for (const std::string& l : db.LogMessages()) seen += l == line;
    if (seen >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(Faults, DirectoryOrFifoDeliveredFailsToOpenAndLeavesTheTable) {
  SKIP_UNDER_WINE("Windows has no FIFO (tests/wine covers the directory)");
  Installation db;
  db.WriteFile("in/20P.txt", File20P("KEEP", 3));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  const std::string source = db.workDir + "/in/20P.txt";
  const std::string work = db.workDir + "/in/20P.wrk";
  for (const char* kind : {"directory", "fifo"}) {
    SCOPED_TRACE(kind);
    fs::remove(work);  // a directory cannot replace the last work file
    fs::remove(db.LogPath());
    db.TakeJournal();
    if (std::string(kind) == "fifo") {
      ASSERT_EQ(mkfifo(source.c_str(), 0644), 0);
    } else {
      fs::create_directory(source);
    }
    // A FIFO without a writer once blocked the run for good; the harness
    // kills a run that hangs.
    auto r = db.Run({"in/20P.txt", "20P"});
    EXPECT_EQ(r.exitCode, 99);
    EXPECT_EQ(db.LogMessages(), FiveTimes("Oeffnen der Datei fehlgeschlagen.", k20PFailed));
    EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery));  // not even a mark
    EXPECT_EQ(Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P"), KeySet("KEEP", 3));
  }
}

TEST(Faults, ReadErrorEndsEachAttemptBeforeTheSweep) {
  SKIP_UNDER_WINE("the read error is injected with an LD_PRELOAD library of the host");
  Installation db;
  db.WriteFile("in/20P.txt", File20P("K", 200));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);

  // The disk fails half-way through a record after 100 records: the 100
  // records read are written, the rest of the table keeps its rows.
  fs::remove(db.LogPath());
  db.TakeJournal();
  db.WriteFile("in/20P.txt", File20P("K", 200, "2"));
  const std::string failAfter = std::to_string(100 * 272 + 50);
  auto r = db.Run({"in/20P.txt", "20P"}, true,
                  {{"LD_PRELOAD", READ_ERROR_SHIM}, {"KRANZEL_SHIM_FAIL_AFTER", failAfter}});
  EXPECT_EQ(r.exitCode, 99);
  EXPECT_EQ(db.LogMessages(),
            FiveTimes("Fehler beim Lesen der Datei in/20P.wrk: Input/output error", k20PFailed));
  EXPECT_EQ(Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P"), KeySet("K", 200));
  EXPECT_EQ(db.Query("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P WHERE M20Ofb = '2'").at(0).at(0),
            "100");
  for (const std::string& statement : db.TakeJournal())
    EXPECT_THAT(statement, ::testing::Not(::testing::StartsWith("DELETE")));
  // The rows not reached keep their marks for the next complete import.
  EXPECT_EQ(db.Query("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P "
                     "WHERE M20Dat = CONVERT(datetime, '19000101', 112)")
                .at(0)
                .at(0),
            "100");

  // The SLD importer reads its first line to tell the form before the
  // cycle: an error there ends the attempt before the mark.
  fs::remove(db.LogPath());
  db.WriteFile("in/SLD.txt", std::string(426, 'X') + "\n");
  r = db.Run({"in/SLD.txt", "SLD"}, true,
             {{"LD_PRELOAD", READ_ERROR_SHIM}, {"KRANZEL_SHIM_FAIL_AFTER", "10"}});
  EXPECT_EQ(r.exitCode, 99);
  EXPECT_EQ(
      db.LogMessages(),
      FiveTimes("Fehler beim Lesen der Datei in/SLD.wrk: Input/output error",
                "Die Schnittstellendatei vom Dateityp 'SLD' konnte nicht importiert werden!"));
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery));
}

TEST(Faults, DeliveryStillBeingWrittenIsReadAgainWhole) {
  SKIP_UNDER_WINE("the growing file is made with an LD_PRELOAD library of the host");
  Installation db;
  db.WriteFile("in/20P.txt", File20P("OLD", 50));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  fs::remove(db.LogPath());
  db.TakeJournal();

  // Upstream has written 100 of 200 records when the run starts, and the
  // rest once the run has read to the end of what was there.
  const std::string delivery = File20P("K", 200);
  db.WriteFile("in/20P.txt", delivery.substr(0, std::size_t{100} * 272));
  db.WriteFile("rest.txt", delivery.substr(std::size_t{100} * 272));
  auto r =
      db.Run({"in/20P.txt", "20P"}, true,
             {{"LD_PRELOAD", READ_ERROR_SHIM}, {"KRANZEL_SHIM_APPEND", db.workDir + "/rest.txt"}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("Fehler beim Lesen der Datei in/20P.wrk: die Datei wurde waehrend des "
                          "Lesens geaendert",
                          "200 von 200 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
  EXPECT_EQ(db.ReadFile("in/20P.wrk"), delivery);
  EXPECT_EQ(Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P"), KeySet("K", 200));
  // Only the complete read swept.
  std::size_t sweeps = 0;
  for (const std::string& statement : db.TakeJournal()) sweeps += statement.starts_with("DELETE");
  EXPECT_EQ(sweeps, 1u);
}

// Holds `path` locked from the test, as a run in progress would: for the
// Windows programs with the byte-range lock on the first byte that Wine
// takes for their LockFileEx (fcntl), which flock does not see.
class HeldLock {
 public:
  HeldLock(const std::string& path, bool underWine) {
    if (!underWine) {
      std::string error;
      EXPECT_EQ(lock_.TryLock(path, error), platform::FileLock::Status::Locked) << error;
      return;
    }
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_len = 1;
    EXPECT_EQ(fcntl(fd_, F_SETLK, &range), 0) << path;
  }
  ~HeldLock() { Release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  void Release() {
    lock_.Unlock();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  platform::FileLock lock_;
  int fd_ = -1;
};

TEST(Faults, RunsOfOneFileTypeTakeTurns) {
  Installation db;
  db.WriteFile("in/a/20P.txt", File20P("A", 300));
  db.WriteFile("in/b/20P.txt", File20P("B", 300));
  const std::string lockFile = "../../Valdura_php/log/kranzel-20P.lock";
  HeldLock held(db.root + "/Valdura_php/log/kranzel-20P.lock", db.UnderWine());

  auto a = std::async(std::launch::async, [&] { return db.Run({"in/a/20P.txt", "20P"}); });
  auto b = std::async(std::launch::async, [&] { return db.Run({"in/b/20P.txt", "20P"}); });
  const std::string waiting = "Warte auf Sperre fuer Dateityp 20P (" + lockFile + ")";
  EXPECT_TRUE(WaitForLogLines(db, waiting, 2));
  EXPECT_TRUE(db.TakeJournal().empty());  // a waiting run holds no connection
  held.Release();
  EXPECT_EQ(a.get().exitCode, 0);
  EXPECT_EQ(b.get().exitCode, 0);

  // The second run's delivery replaced the first one's whole.
  std::set<std::string> keys = Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P");
  EXPECT_TRUE(keys == KeySet("A", 300) || keys == KeySet("B", 300))
      << keys.size() << " rows, a mix of both deliveries";
  std::size_t waits = 0;
  for (const std::string& line : db.LogMessages()) waits += line == waiting;
  EXPECT_EQ(waits, 2u);
}

TEST(Faults, SourcesSharingAWorkNameTakeTurns) {
  Installation db;
  db.WriteFile("in/x.txt", Line20P("FIRST", "1"));
  ASSERT_EQ(db.Run({"in/x.txt", "20P"}).exitCode, 0);
  // The work file's lock is named after it, beside the log.
  std::vector<std::string> locks;
  for (const auto& entry : fs::directory_iterator(db.root + "/Valdura_php/log"))
    if (entry.path().filename().string().starts_with("kranzel-wrk-"))
      locks.push_back(entry.path().filename().string());
  ASSERT_EQ(locks.size(), 1u);
  EXPECT_THAT(locks[0], ::testing::MatchesRegex("kranzel-wrk-x\\.wrk-[0-9a-f]{8}\\.lock"));
  HeldLock held(db.root + "/Valdura_php/log/" + locks[0], db.UnderWine());

  // x.txt and x.csv both become x.wrk: each run must import its own.
  fs::remove(db.LogPath());
  db.WriteFile("in/x.txt", File20P("T", 50));
  db.WriteFile("in/x.csv", Line41P("C1") + Line41P("C2"));
  auto t = std::async(std::launch::async, [&] { return db.Run({"in/x.txt", "20P"}); });
  auto c = std::async(std::launch::async, [&] { return db.Run({"in/x.csv", "41P"}); });
  EXPECT_TRUE(WaitForLogLines(
      db, "Warte auf Sperre fuer Arbeitsdatei in/x.wrk (../../Valdura_php/log/" + locks[0] + ")",
      2));
  held.Release();
  EXPECT_EQ(t.get().exitCode, 0);
  EXPECT_EQ(c.get().exitCode, 0);
  EXPECT_EQ(Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P"), KeySet("T", 50));
  EXPECT_EQ(Keys(db, "SELECT M41Trm FROM QVSYSTEM.MGSST41P"), (std::set<std::string>{"C1", "C2"}));
}

TEST(Faults, LockFileRemovedWhileWaitedForLetsNoSecondRunIn) {
  Installation db;
  db.WriteFile("in/20P.txt", File20P("A", 10));
  const std::string lockPath = db.root + "/Valdura_php/log/kranzel-20P.lock";
  auto running = std::make_unique<HeldLock>(lockPath, db.UnderWine());
  auto waiting = std::async(std::launch::async, [&] { return db.Run({"in/20P.txt", "20P"}); });
  const std::string waitLine =
      "Warte auf Sperre fuer Dateityp 20P (../../Valdura_php/log/kranzel-20P.lock)";
  ASSERT_TRUE(WaitForLogLines(db, waitLine, 1));

  // A clean-up of the log directory removes the lock file, and a run
  // started after that makes a new one and holds it.
  fs::remove(lockPath);
  HeldLock later(lockPath, db.UnderWine());
  running->Release();
  // The waiting run's lock is on the removed file: it waits for the new one.
  EXPECT_TRUE(WaitForLogLines(db, waitLine, 2));
  EXPECT_TRUE(db.TakeJournal().empty());
  later.Release();
  EXPECT_EQ(waiting.get().exitCode, 0);
  EXPECT_EQ(Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P"), KeySet("A", 10));
}

TEST(Faults, LockFileThatCannotBeCreatedIsReportedAndTheRunGoesOn) {
  SKIP_UNDER_WINE("Windows reports a directory in the lock file's place in its own words");
  Installation db;
  // A directory where the lock file belongs: it can be neither made nor locked.
  fs::create_directory(db.root + "/Valdura_php/log/kranzel-20P.lock");
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0);
  const std::string message =
      "Sperrdatei ../../Valdura_php/log/kranzel-20P.lock konnte nicht angelegt werden: "
      "Is a directory. Weiter ohne Sperre.";
  EXPECT_EQ(db.Stderr(), "kranzel: " + message + "\n");
  EXPECT_THAT(db.LogMessages(),
              ElementsAre(message, "1 von 1 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
  EXPECT_EQ(Keys(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P"), (std::set<std::string>{"T"}));
}

}  // namespace
