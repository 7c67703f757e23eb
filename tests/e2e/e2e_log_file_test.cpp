// The log and the run summary as files shared by the runs of one
// installation: two runs that rotate them at the same moment, and a disk
// that fills up in the middle of a line. Whatever happens, the previous
// generation and every line written stay whole, and no line is glued to
// another.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "e2e/harness.h"
#include "log/log.h"
#include "support/files.h"

namespace fs = std::filesystem;
using e2e::Installation;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using support::Slurp;
using support::Spit;

// Lines of `width` characters (line end included), numbered after `prefix`,
// as many as fit into `size` bytes.
std::string Filler(const std::string& prefix, std::size_t width, long size) {
  std::string out;
  for (long i = 0; out.size() + width <= static_cast<std::size_t>(size); ++i) {
    std::string line = prefix + std::to_string(i);
    line.resize(width - 1, '.');
    out += line + "\n";
  }
  return out;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Waits (at most a minute) until `dir` holds a file whose name begins with
// `prefix`.
bool WaitForFile(const std::string& dir, const std::string& prefix) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().filename().string().starts_with(prefix)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string Line20P(const std::string& trm) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {"1700", 4}});
}

std::string Line41P(const std::string& trm) {
  return e2e::Record(
      {{trm, 255}, {"F", 3}, {"Z", 3}, {"W", 2}, {"12345", 5}, {"1", 1}, {"0800", 4}, {"1700", 4}});
}

TEST(LogFile, TwoRunsRotatingAtOnceKeepThePreviousGeneration) {
  Installation db;
  const std::string dir = db.root + "/Valdura_php/log/";
  // Both files just under the limit: each run's first line carries them over.
  const std::string log =
      Filler("2026-12-08 21:19:04 frueherer Lauf ", 50, klog::kLogRotateSize - 60);
  const std::string runs = Filler("{\"frueherer_lauf\":", 50, klog::kLogRotateSize - 60);
  Spit(dir + "kranzel.log", log);
  Spit(dir + "kranzel.old", "vorletzte Generation\n");
  Spit(dir + "kranzel-runs.jsonl", runs);
  Spit(dir + "kranzel-runs.old", "{\"vorletzte_generation\":1}\n");
  db.WriteFile("in/20P.txt", Line20P("T20"));
  db.WriteFile("in/41P.txt", Line41P("T41"));

  // The shim holds the first run inside its rotation until the second one
  // rotates too, or waits for it.
  const std::string meet = db.root + "/meet";
  fs::create_directory(meet);
  const std::vector<std::pair<std::string, std::string>> env = {{"LD_PRELOAD", ROTATION_RACE_SHIM},
                                                                {"KRANZEL_SHIM_RENDEZVOUS", meet}};
  auto first = std::async(std::launch::async, [&] {
    return db.Run({"in/20P.txt", "20P"}, false, env);
  });
  ASSERT_TRUE(WaitForFile(meet, "in.kranzel.old."));
  auto second = std::async(std::launch::async, [&] {
    return db.Run({"in/41P.txt", "41P"}, false, env);
  });
  EXPECT_EQ(first.get().exitCode, 0);
  EXPECT_EQ(second.get().exitCode, 0);

  const std::string old = Slurp(dir + "kranzel.old");
  ASSERT_GE(old.size(), log.size()) << "the previous log is lost; kranzel.old holds: " << old;
  EXPECT_TRUE(old.compare(0, log.size(), log) == 0);
  const std::string lines = old.substr(log.size()) + Slurp(dir + "kranzel.log");
  for (const char* message : {"1 von 1 Datensaetze in MGSST20P eingefuegt",
                              "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!",
                              "1 von 1 Datensaetze in MGSST41P eingefuegt",
                              "Die Schnittstellendatei vom Dateityp '41P' wurde importiert!"})
    EXPECT_EQ(Occurrences(lines, std::string(" ") + message + "\n"), 1u) << message;

  const std::string runsOld = Slurp(dir + "kranzel-runs.old");
  ASSERT_GE(runsOld.size(), runs.size()) << "the previous summaries are lost: " << runsOld;
  EXPECT_TRUE(runsOld.compare(0, runs.size(), runs) == 0);
  const std::string summaries = runsOld.substr(runs.size()) + Slurp(dir + "kranzel-runs.jsonl");
  EXPECT_EQ(Occurrences(summaries, "\"type\":\"20P\""), 1u) << summaries;
  EXPECT_EQ(Occurrences(summaries, "\"type\":\"41P\""), 1u) << summaries;
  EXPECT_EQ(db.Stderr(), "");
}

TEST(LogFile, FullDiskCostsOnlyTheLinesItCouldNotHold) {
  Installation db;
  const std::string dir = db.root + "/Valdura_php/log/";
  const std::string log = "2026-12-08 21:19:03 fertig\n";
  const std::string runs = "{\"exit_code\":0}\n";
  Spit(dir + "kranzel.log", log);
  Spit(dir + "kranzel-runs.jsonl", runs);
  db.WriteFile("in/20P.txt", Line20P("A"));
  auto r = db.Run(
      {"in/20P.txt", "20P"}, true,
      {{"LD_PRELOAD", FULL_DISK_SHIM}, {"KRANZEL_SHIM_FULL", "kranzel.log:kranzel-runs.jsonl"}});
  EXPECT_EQ(r.exitCode, 0);
  // Not a byte of the lines the disk could not hold.
  EXPECT_EQ(Slurp(dir + "kranzel.log"), log);
  EXPECT_EQ(Slurp(dir + "kranzel-runs.jsonl"), runs);
  EXPECT_EQ(db.Stderr(),
            "kranzel: Logdatei ../../Valdura_php/log/kranzel.log kann nicht geschrieben werden: "
            "No space left on device\n"
            "kranzel: Laufuebersicht ../../Valdura_php/log/kranzel-runs.jsonl kann nicht "
            "geschrieben werden: No space left on device\n");

  // With room again, the next run's lines stand on lines of their own, not
  // glued to what the disk held of the last ones.
  db.WriteFile("in/20P.txt", Line20P("B"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("fertig", "1 von 1 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
  const std::string after = Slurp(dir + "kranzel-runs.jsonl");
  ASSERT_EQ(after.compare(0, runs.size(), runs), 0);
  const std::string added = after.substr(runs.size());
  EXPECT_EQ(Occurrences(added, "\n"), 1u);
  EXPECT_TRUE(added.starts_with("{\"start\":") && added.ends_with("}\n")) << added;
}

TEST(LogFile, LockThatCannotBeTakenIsSaidOnceAndTheLinesAreWritten) {
  Installation db;
  const std::string dir = db.root + "/Valdura_php/log/";
  // Directories where the lock files belong: they can be neither made nor locked.
  fs::create_directory(dir + "kranzel.log.lock");
  fs::create_directory(dir + "kranzel-runs.jsonl.lock");
  db.WriteFile("in/20P.txt", Line20P("A"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("1 von 1 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
  EXPECT_EQ(Occurrences(Slurp(dir + "kranzel-runs.jsonl"), "\"type\":\"20P\""), 1u);
  EXPECT_EQ(db.Stderr(),
            "kranzel: Sperrdatei ../../Valdura_php/log/kranzel.log.lock konnte nicht angelegt "
            "werden: Is a directory. Weiter ohne Sperre.\n"
            "kranzel: Sperrdatei ../../Valdura_php/log/kranzel-runs.jsonl.lock konnte nicht "
            "angelegt werden: Is a directory. Weiter ohne Sperre.\n");
}

}  // namespace
