// The run summary (kranzel-runs.jsonl beside the log): one JSON line per run
// at every exit, with the rows the driver reported for the last attempt,
// whatever "/D" says; texts escaped; rotated like the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "e2e/harness.h"

using e2e::Installation;
using ::testing::ElementsAre;

namespace fs = std::filesystem;

namespace {

std::string Line20P(const std::string& trm, const std::string& ofb = "1700") {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {ofb, 4}});
}

std::string SummaryPath(const Installation& db) {
  return db.root + "/Valdura_php/log/kranzel-runs.jsonl";
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A summary line with its start, end and pid checked and cut out: the rest
// is the same on every run of the same input.
std::string Fixed(const std::string& line) {
  static const std::regex head(
      R"re(^\{"start":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)","end":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)","pid":[1-9]\d*,)re");
  std::smatch m;
  if (!std::regex_search(line, m, head)) return "unexpected head: " + line;
  if (m[1].str() > m[2].str()) return "ends before it starts: " + line;
  return line.substr(static_cast<std::size_t>(m.length(0)));
}

std::vector<std::string> Summaries(const Installation& db) {
  std::vector<std::string> out;
  for (const std::string& line : Lines(SummaryPath(db))) out.push_back(Fixed(line));
  return out;
}

TEST(RunSummary, ImportsReportTheRowsTheDriverCounted) {
  Installation db;
  db.WriteFile("in/20P.txt", Line20P("T1") + Line20P("T2") + Line20P("T3"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  // The second delivery changes T1, repeats T2, drops T3 and brings T4; the
  // mark touches all three rows but is no update of a record. With /D the
  // messages go to the console; the summary is written all the same.
  db.WriteFile("in/20P.txt", Line20P("T1", "1730") + Line20P("T2") + Line20P("T4"));
  auto r = db.Run({"in/20P.txt", "20P", "/D"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("wurde importiert!"), std::string::npos);
  // With UPD there is no sweep and no INSERT ran: 0 rows each.
  db.WriteFile("in/20P.txt", Line20P("T1"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20p", "upd"}).exitCode, 0);
  EXPECT_THAT(
      Summaries(db),
      ElementsAre(R"("source":"in/20P.txt","work":"in/20P.wrk","type":"20P","update_mode":false,)"
                  R"("attempts":1,"records":3,"inserted":3,"updated":0,"deleted":0,)"
                  R"("native_error":0,"exit_code":0})",
                  R"("source":"in/20P.txt","work":"in/20P.wrk","type":"20P","update_mode":false,)"
                  R"("attempts":1,"records":3,"inserted":1,"updated":2,"deleted":1,)"
                  R"("native_error":0,"exit_code":0})",
                  R"("source":"in/20P.txt","work":"in/20P.wrk","type":"20P","update_mode":true,)"
                  R"("attempts":1,"records":1,"inserted":0,"updated":1,"deleted":0,)"
                  R"("native_error":0,"exit_code":0})"));
  // The log is what it always was.
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("3 von 3 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!",
                          "1 von 1 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
}

TEST(RunSummary, EveryFailedExitWritesOneLine) {
  Installation db;
  // A wrong record length: five attempts; the last one updated the row the
  // first one inserted, and counted both lines.
  db.WriteFile("in/20P.txt", Line20P("T1") + "zu kurz\n");
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
  // No source file.
  ASSERT_EQ(db.Run({"in/none.txt", "41P"}).exitCode, 90);
  // A type nobody knows, found in the first attempt.
  db.WriteFile("in/x.txt", Line20P("T1"));
  ASSERT_EQ(db.Run({"in/x.txt", "20"}).exitCode, 90);
  // The server refuses the connection: its native error, no attempt.
  db.SetControl("refuse_connect all\n");
  db.WriteFile("in/20P.txt", Line20P("T1"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
  EXPECT_TRUE(db.Exists("in/20P.txt"));
  // The stand-in's driver says 17 (server does not exist); FreeTDS reports
  // its refused connection without a native error.
  const std::string refused = db.ThroughTds() ? "0" : "17";
  EXPECT_THAT(
      Summaries(db),
      ElementsAre(R"("source":"in/20P.txt","work":"in/20P.wrk","type":"20P","update_mode":false,)"
                  R"("attempts":5,"records":2,"inserted":0,"updated":1,"deleted":0,)"
                  R"("native_error":0,"exit_code":99})",
                  R"("source":"in/none.txt","work":"in/none.wrk","type":"41P","update_mode":false,)"
                  R"("attempts":0,"records":0,"inserted":0,"updated":0,"deleted":0,)"
                  R"("native_error":0,"exit_code":90})",
                  R"("source":"in/x.txt","work":"in/x.wrk","type":"20","update_mode":false,)"
                  R"("attempts":1,"records":0,"inserted":0,"updated":0,"deleted":0,)"
                  R"("native_error":0,"exit_code":90})",
                  R"("source":"in/20P.txt","work":"in/20P.wrk","type":"20P","update_mode":false,)"
                  R"("attempts":0,"records":0,"inserted":0,"updated":0,"deleted":0,)"
                  R"("native_error":)" +
                      refused + R"(,"exit_code":99})"));

  // Too few arguments: the usage, and no summary (nothing was run).
  ASSERT_EQ(db.Run({"in/20P.txt"}).exitCode, 90);
  EXPECT_EQ(Lines(SummaryPath(db)).size(), 4u);
}

TEST(RunSummary, SummaryThatCannotBeWrittenChangesNothingElse) {
  SKIP_UNDER_WINE("Windows reports a directory in the summary's place in its own words");
  Installation db;
  fs::create_directory(SummaryPath(db));
  db.WriteFile("in/20P.txt", Line20P("T1"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_EQ(db.Run({"in/none.txt", "20P"}).exitCode, 90);
  EXPECT_EQ(db.Stderr(),
            "kranzel: Laufuebersicht ../../Valdura_php/log/kranzel-runs.jsonl kann nicht "
            "geschrieben werden: Is a directory\n"
            "kranzel: Laufuebersicht ../../Valdura_php/log/kranzel-runs.jsonl kann nicht "
            "geschrieben werden: Is a directory\n");
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("1 von 1 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!",
                          "Quelldatei auf Server nicht gefunden.",
                          "Quelldatei in/none.txt nicht nach in/none.wrk umbenannt: No such file "
                          "or directory"));
}

// Windows-1252 bytes (the installations' paths), a quote, a backslash (an
// ordinary character on Linux) and control characters in the source path.
const std::string kOddName = "in/a\"b\\c\td\x01\x7f\xe4\x80.txt";
const std::string kOddNameJson = R"("in/a\"b\\c\td\u0001\u007f\u00e4\u20ac.txt")";
const std::string kOddNameUtf8 = "in/a\"b\\c\td\x01\x7f\xc3\xa4\xe2\x82\xac.txt";
// A name in UTF-8 keeps its characters.
const std::string kUtf8Name =
    "in/Gr\xc3\xbc\xc3\x9f"
    "e\xf0\x9f\x93\x84.txt";
const std::string kUtf8NameJson = R"("in/Gr\u00fc\u00dfe\ud83d\udcc4.txt")";

TEST(RunSummary, TextsAreEscaped) {
  SKIP_UNDER_WINE("a Windows program cannot be given file names that are not Windows-1252 text");
  Installation db;
  db.WriteFile(kOddName, Line20P("T1"));
  ASSERT_EQ(db.Run({kOddName, "20P"}).exitCode, 0);
  db.WriteFile(kUtf8Name, Line20P("T1"));
  ASSERT_EQ(db.Run({kUtf8Name, "20P"}).exitCode, 0);
  const std::vector<std::string> lines = Lines(SummaryPath(db));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fixed(lines[0]),
            R"("source":)" + kOddNameJson + R"(,"work":)" +
                kOddNameJson.substr(0, kOddNameJson.size() - 5) +
                R"(.wrk","type":"20P","update_mode":false,"attempts":1,"records":1,)"
                R"("inserted":1,"updated":0,"deleted":0,"native_error":0,"exit_code":0})");
  EXPECT_EQ(Fixed(lines[1]).substr(0, 10 + kUtf8NameJson.size()),
            R"("source":)" + kUtf8NameJson + ",");
  for (const std::string& line : lines)
    for (char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << line;

  // What a JSON reader makes of it: the names as characters, in UTF-8.
  if (std::system("jq --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "jq is not installed";
  auto r = db.RunCommand(
      {"sh", "-c", "jq -j '.source + \"|\"' ../../Valdura_php/log/kranzel-runs.jsonl"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kOddNameUtf8 + "|" + kUtf8Name + "|");
}

TEST(RunSummary, RotatesPastTenMegabytesLikeTheLog) {
  Installation db;
  const std::string old = db.root + "/Valdura_php/log/kranzel-runs.old";
  {
    std::ofstream(old) << "older generation\n";
    std::ofstream full(SummaryPath(db), std::ios::binary);
    const std::string line(1023, 'x');
    for (int i = 0; i < 10240; ++i) full << line << '\n';  // 10485760 bytes: not yet past
  }
  ASSERT_EQ(db.Run({"in/none.txt", "20P"}).exitCode, 90);
  // The line that carried the file past 10 MB ends the rotated file; the new
  // one begins empty, and the next run's line is its first.
  EXPECT_EQ(fs::file_size(SummaryPath(db)), 0u);
  const std::vector<std::string> rotated = Lines(old);
  ASSERT_EQ(rotated.size(), 10241u);
  EXPECT_EQ(rotated.front(), std::string(1023, 'x'));
  EXPECT_EQ(Fixed(rotated.back()).substr(0, 22), R"("source":"in/none.txt")");
  ASSERT_EQ(db.Run({"in/none.txt", "20P"}).exitCode, 90);
  EXPECT_EQ(Lines(SummaryPath(db)).size(), 1u);
  EXPECT_EQ(Lines(old).size(), 10241u);
}

}  // namespace
