// The Windows build end to end under Wine: kranzel.exe and kranzel-ini.exe
// reach the stand-in through Wine's odbc32, which hands every ODBC call to the
// host's unixODBC (so the DSN comes from ODBCSYSINI as for the Linux build).
// Each case runs the same input through the Linux build and compares what a
// user sees: statements, table rows, log messages, exit codes, and the
// Windows line ends (CR LF) in the log and on the console.
//
// One Wine prefix and one wineserver on the real clock serve the whole run
// (e2e::WineSession); the Windows programs run under faketime, so the 10 s and
// 60 s pauses pass quickly.
//
// Without the Windows programs, Wine or faketime the program says why and
// exits with 77, which ctest reports as skipped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "e2e/harness.h"
#include "support/files.h"

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::Row;
using e2e::RunResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const std::string kKranzelExe = KRANZEL_WINDOWS_DIR "/kranzel.exe";
const std::string kKranzelIniExe = KRANZEL_WINDOWS_DIR "/kranzel-ini.exe";
// Runs a Windows program of the build under Wine from the installation's
// x/y, like the scheduler starts kranzel.exe there. A run that has not
// ended after Installation::kRunTimeoutSeconds of real time is killed (exit
// 137), so a hang fails the test instead of holding it.
RunResult RunWine(Installation& db, const std::string& exe, const std::vector<std::string>& args) {
  return db.RunUnderWine(exe, args);
}

RunResult RunKranzelExe(Installation& db, const std::vector<std::string>& args) {
  return RunWine(db, kKranzelExe, args);
}

using e2e::WindowsLogMessages;
using support::AllCrLf;
using support::CrLf;
using support::Slurp;

std::string Line20P(const std::string& trm, const std::string& ofv, const std::string& ofb) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {ofv, 4}, {ofb, 4}});
}

std::vector<Row> Rows20P(const Installation& db) {
  return db.Query(
      "SELECT M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb FROM QVSYSTEM.MGSST20P "
      "ORDER BY M20Trm, M20Ofv");
}

TEST(Windows, BannerAndUsageAreTheLinuxTextWithCrLf) {
  Installation linux, windows;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"in/20P.txt"}}) {
    RunResult expected = linux.Run(args, false);
    RunResult got = RunKranzelExe(windows, args);
    EXPECT_EQ(got.exitCode, 90);
    EXPECT_EQ(got.exitCode, expected.exitCode);
    EXPECT_THAT(expected.out, HasSubstr("Parameterfehler"));
    EXPECT_EQ(got.out, CrLf(expected.out));
  }
  EXPECT_FALSE(fs::exists(windows.LogPath()));
}

// A DOS file (CR LF, Ctrl-Z at the end) with an apostrophe in a key field,
// imported twice by each build: the second file changes one record and drops
// another, so the update and the sweep are compared too.
TEST(Windows, Import20PMatchesTheLinuxBuild) {
  const std::string first =
      CrLf(Line20P("TERM01", "0800", "1700") + Line20P("O'Brien's", "0900", "1800") +
           Line20P("TERM03", "1000", "1900")) +
      "\x1a";
  const std::string second =
      CrLf(Line20P("TERM01", "0800", "1730") + Line20P("O'Brien's", "0900", "1800"));
  Installation linux, windows;
  std::vector<std::string> linuxJournal, windowsJournal;
  for (const std::string& file : {first, second}) {
    linux.WriteFile("in/20P.txt", file);
    windows.WriteFile("in/20P.txt", file);
    RunResult expected = linux.Run({"in/20P.txt", "20p"});
    RunResult got = RunKranzelExe(windows, {"in\\20P.txt", "20p"});
    EXPECT_EQ(expected.exitCode, 0);
    EXPECT_EQ(got.exitCode, 0);
    EXPECT_FALSE(windows.Exists("in/20P.txt"));
    EXPECT_EQ(windows.ReadFile("in/20P.wrk"), file);
    for (const std::string& s : linux.TakeJournal()) linuxJournal.push_back(s);
    for (const std::string& s : windows.TakeJournal()) windowsJournal.push_back(s);
  }
  EXPECT_EQ(windowsJournal, linuxJournal);
  EXPECT_THAT(windowsJournal, testing::Contains(HasSubstr("M20Trm = 'O''Brien''s'")));
  EXPECT_THAT(WindowsLogMessages(windows.LogPath()),
              ElementsAre("3 von 3 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!",
                          "2 von 2 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
  EXPECT_EQ(WindowsLogMessages(windows.LogPath()), linux.LogMessages());
  EXPECT_THAT(Rows20P(windows), ElementsAre(Row{"O'Brien's", "A", "1", "12345", "0900", "1800"},
                                            Row{"TERM01", "A", "1", "12345", "0800", "1730"}));
  EXPECT_EQ(Rows20P(windows), Rows20P(linux));
}

TEST(Windows, WrongRecordLengthFailsAllFiveAttempts) {
  Installation linux, windows;
  const std::string file = Line20P("TERM01", "0800", "1700") + "too short\n";
  linux.WriteFile("in/20P.txt", file);
  windows.WriteFile("in/20P.txt", file);
  RunResult expected = linux.Run({"in/20P.txt", "20P"});
  auto start = std::chrono::steady_clock::now();
  RunResult got = RunKranzelExe(windows, {"in/20P.txt", "20P"});
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(expected.exitCode, 99);
  EXPECT_EQ(got.exitCode, 99);
  std::vector<std::string> messages = WindowsLogMessages(windows.LogPath());
  EXPECT_EQ(messages, linux.LogMessages());
  // The message carries the record line with its line feed: one message and
  // its continuation line per attempt, then the end of the run.
  ASSERT_EQ(messages.size(), 11u);
  for (std::size_t attempt = 0; attempt < 5; ++attempt)
    EXPECT_EQ(messages[2 * attempt], "Falsche Satzlaenge! 'too short");
  EXPECT_EQ(messages.back(),
            "Die Schnittstellendatei vom Dateityp '20P' konnte nicht importiert werden!");
  EXPECT_LT(seconds, 30.0) << "the four pauses of 10 s were not shortened";
}

TEST(Windows, DatabaseRefusedAtStartExits99AfterFiveReconnects) {
  Installation linux, windows;
  for (Installation* db : {&linux, &windows}) {
    db->SetControl("refuse_connect all\n");
    db->WriteFile("in/20P.txt", Line20P("TERM01", "0800", "1700"));
  }
  RunResult expected = linux.Run({"in/20P.txt", "20P"});
  RunResult got = RunKranzelExe(windows, {"in/20P.txt", "20P"});
  EXPECT_EQ(expected.exitCode, 99);
  EXPECT_EQ(got.exitCode, 99);
  std::vector<std::string> messages = WindowsLogMessages(windows.LogPath());
  EXPECT_EQ(messages, linux.LogMessages());
  // The fixed messages, each failed connect followed by the driver's diagnostic.
  ASSERT_EQ(messages.size(), 17u);
  EXPECT_EQ(messages[15], "Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: 5");
  EXPECT_EQ(messages[16].rfind("ODBC: 08001 ", 0), 0u) << messages[16];
  EXPECT_TRUE(windows.Exists("in/20P.txt"));
  EXPECT_FALSE(windows.Exists("in/20P.wrk"));
}

TEST(Windows, StatementThatIsNeverAnsweredTimesOutAsOnLinux) {
  // The mark gets no answer once: the driver gives up at the statement's
  // query timeout (set by the Windows build through odbc32 too), and the
  // next attempt imports.
  Installation linux, windows;
  for (Installation* db : {&linux, &windows}) {
    db->SetControl("stall_statement 1 SET    M20Dat = CONVERT(datetime, '19000101', 112)\n");
    db->WriteFile("in/20P.txt", Line20P("TERM01", "0800", "1700"));
  }
  RunResult expected = linux.Run({"in/20P.txt", "20P"});
  RunResult got = RunKranzelExe(windows, {"in/20P.txt", "20P"});
  EXPECT_EQ(expected.exitCode, 0);
  EXPECT_EQ(got.exitCode, 0);
  std::vector<std::string> messages = WindowsLogMessages(windows.LogPath());
  EXPECT_EQ(messages, linux.LogMessages());
  ASSERT_EQ(messages.size(), 6u);
  EXPECT_EQ(messages[0].rfind("ODBC: HYT00 ", 0), 0u) << messages[0];
  EXPECT_EQ(messages[1], "Fehler in SQL_MGSST20P_SetDelete(): -1");
  EXPECT_EQ(Rows20P(windows), Rows20P(linux));
}

// The log counts the bytes in the file: the CR of a CR LF line counts, so a
// line that would leave the log at exactly 10485760 bytes without it carries
// the log past the threshold on Windows.
TEST(Windows, LogRotationCountsTheCarriageReturn) {
  Installation windows;
  const std::string message = "1 von 1 Datensaetze in MGSST20P eingefuegt";
  const std::size_t lineWithoutCr = 20 + message.size() + 1;
  {
    std::ofstream(windows.LogPath(), std::ios::binary)
        << std::string(10485760 - lineWithoutCr, 'x');
  }
  windows.WriteFile("in/20P.txt", Line20P("TERM01", "0800", "1700"));
  ASSERT_EQ(RunKranzelExe(windows, {"in/20P.txt", "20P"}).exitCode, 0);
  const std::string old = Slurp(windows.root + "/Valdura_php/log/kranzel.old");
  EXPECT_EQ(old.size(), 10485761u);
  EXPECT_EQ(old.substr(old.size() - message.size() - 2), message + "\r\n");
  EXPECT_THAT(WindowsLogMessages(windows.LogPath()),
              ElementsAre("Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
}

// Only a regular file is read as the work file: a directory delivered under
// the source name is moved to the work name but never opened.
TEST(Windows, DirectoryAsWorkFileFailsToOpen) {
  Installation windows;
  fs::create_directories(windows.workDir + "/in/20P.txt");
  EXPECT_EQ(RunKranzelExe(windows, {"in/20P.txt", "20P"}).exitCode, 99);
  std::vector<std::string> messages = WindowsLogMessages(windows.LogPath());
  ASSERT_EQ(messages.size(), 6u);
  for (int attempt = 0; attempt < 5; ++attempt)
    EXPECT_EQ(messages[attempt], "Oeffnen der Datei fehlgeschlagen.");
  EXPECT_TRUE(fs::is_directory(windows.workDir + "/in/20P.wrk"));
}

// kranzel-ini.exe writes the configuration a Windows installation is set up
// with; the Linux tools read it, and the Windows programs read a file that
// the Linux tools wrote (every Installation's file is written on Linux).
TEST(Windows, ConfigurationWrittenOnEitherPlatformReadsOnTheOther) {
  Installation windows, linux;
  const std::string ini = windows.root + "/Files/Valdura.Ini";
  fs::remove(ini);
  for (auto [key, value] : {std::pair<const char*, const char*>{"LOGIN", "kranzel"},
                            {"PASS", "geheim"},
                            {"DB_SYSTEM", "MSSQL"},
                            {"DATABASE", "KRANZELDB"}}) {
    RunResult set =
        RunWine(windows, kKranzelIniExe, {"set", R"(..\..\Files\Valdura.Ini)", key, value});
    EXPECT_EQ(set.exitCode, 0) << key;
  }
  const std::string written = Slurp(ini);
  EXPECT_TRUE(AllCrLf(written)) << written;
  EXPECT_THAT(written, HasSubstr("[PASS];PASS;\r\n"));

  // The Linux build reads it: kranzel-ini and kranzel itself.
  fs::copy_file(ini, linux.root + "/Files/Valdura.Ini", fs::copy_options::overwrite_existing);
  RunResult get = linux.RunCommand(
      {KRANZEL_INI_BIN, "get", "../../Files/Valdura.Ini", "PASS", "--show-password"});
  EXPECT_EQ(get.exitCode, 0);
  EXPECT_EQ(get.out, "geheim\n");
  linux.WriteFile("in/20P.txt", Line20P("TERM01", "0800", "1700"));
  EXPECT_EQ(linux.Run({"in/20P.txt", "20P"}).exitCode, 0);

  // And the other way round: a Linux-written file (LF) read and changed by
  // the Windows tools, keeping its LF line ends, then read by kranzel.exe.
  Installation other;
  other.SetIni("PASS", "neu");
  other.SetDsnAttribute("Password", "neu");
  RunResult winGet = RunWine(other, kKranzelIniExe,
                             {"get", R"(..\..\Files\Valdura.Ini)", "PASS", "--show-password"});
  EXPECT_EQ(winGet.exitCode, 0);
  EXPECT_EQ(winGet.out, "neu\r\n");
  EXPECT_EQ(
      RunWine(other, kKranzelIniExe, {"set", "..\\..\\Files\\Valdura.Ini", "LOGIN", "kranzel"})
          .exitCode,
      0);
  EXPECT_EQ(Slurp(other.root + "/Files/Valdura.Ini").find('\r'), std::string::npos);
  other.WriteFile("in/20P.txt", Line20P("TERM02", "0800", "1700"));
  EXPECT_EQ(RunKranzelExe(other, {"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_THAT(Rows20P(other), ElementsAre(Row{"TERM02", "A", "1", "12345", "0800", "1700"}));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The session exits with 77 when the Windows build, Wine or faketime is
  // missing.
  if (!::testing::GTEST_FLAG(list_tests)) e2e::WineSession::Register();
  return RUN_ALL_TESTS();
}
