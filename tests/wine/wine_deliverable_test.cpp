// The Windows deliverable as an administrator meets it, under Wine: the MSI
// installed silently into an installation root, kranzel-ini.exe,
// kranzel-check.exe and kranzel.exe run from the installed folder against
// the stand-in (Wine's odbc32 hands every ODBC call to the host's unixODBC,
// so the data source comes from ODBCSYSINI), an upgrade and the uninstall;
// the version resource and the stripping of every shipped program;
// kranzel-ini.exe judging the ACL; and the delivery helper
// kranzel-deliveries.cmd run by Wine's cmd.exe.
//
// One throw-away WINEPREFIX with one wineserver kept running serves the
// whole run (the harness's e2e::WineSession), and each case starts as few
// Wine processes as it can (the machine is shared). Nothing here waits on the tool's 10 s or 60 s
// pauses, so no case runs under faketime.
//
// Without the Windows build, Wine or wixl the program says why and exits
// with 77, which ctest reports as skipped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "e2e/harness.h"
#include "support/files.h"

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::Row;
using e2e::RunResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kBuild = KRANZEL_WINDOWS_DIR;
const std::string kVersion = KRANZEL_PROJECT_VERSION;
const std::string kMsi = kBuild + "/kranzel-" + kVersion + "-x64.msi";
const std::string kWine = KRANZEL_WINE;
const std::string kWixl = KRANZEL_WIXL;
const char* const kPrograms[] = {"kranzel", "kranzel-ini", "kranzel-check"};

using support::CrLf;
using support::Slurp;
using support::Spit;

// A Linux path as Wine names it (drive Z: is the root).
std::string WinPath(const std::string& path) {
  std::string out = "Z:" + fs::absolute(path).lexically_normal().string();
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

// Runs a Windows command line under Wine in `dir` with the installation's
// data source.
RunResult Wine(Installation& db, const std::string& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"sh", "-c", R"(cd "$0" && exec "$@")", dir, kWine};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = db.RunCommand(argv, e2e::WineEnvironment());
  if (r.exitCode >= 126)
    std::cout << args.front() << " ended with " << r.exitCode << "; standard error:\n"
              << db.Stderr() << "\n";
  return r;
}

using e2e::WindowsLogMessages;

std::string Line20P(const std::string& trm, const std::string& ofv) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {ofv, 4}, {"1700", 4}});
}

std::vector<Row> Rows20P(const Installation& db) {
  return db.Query("SELECT M20Trm, M20Ofv, M20Ofb FROM QVSYSTEM.MGSST20P ORDER BY M20Trm");
}

// The step name and status of every step of kranzel-check --installation --json.
std::vector<std::string> Steps(const std::string& json) {
  std::vector<std::string> out;
  for (std::size_t at = 0; (at = json.find(R"({"step":")", at)) != std::string::npos;) {
    at += 9;
    const std::string name = json.substr(at, json.find('"', at) - at);
    const std::size_t s = json.find(R"("status":")", at) + 10;
    out.push_back(name + ": " + json.substr(s, json.find('"', s) - s));
  }
  return out;
}

std::string StepDetail(const std::string& json, const std::string& step) {
  std::size_t at = json.find(R"({"step":")" + step + "\"");
  if (at == std::string::npos) return "";
  at = json.find(R"("detail":")", at) + 10;
  return json.substr(at, json.find("\"}", at) - at);
}

// The value of a string of the version resource (UTF-16, after its key and
// the padding to the next four bytes), or "" when the key is not there.
std::string VersionString(const std::string& pe, const std::string& key) {
  std::string key16;
  for (char c : key) key16 += {c, '\0'};
  key16 += std::string(2, '\0');
  std::size_t at = pe.find(key16);
  if (at == std::string::npos) return "";
  at += key16.size();
  at = (at + 3) & ~std::size_t{3};
  std::string value;
  for (; at + 1 < pe.size() && (pe[at] != '\0' || pe[at + 1] != '\0'); at += 2) value += pe[at];
  return value;
}

// Sets the file version in the fixed part of a version resource
// (VS_FIXEDFILEINFO, after its signature 0xFEEF04BD) to major.minor.patch.0.
void SetFixedFileVersion(std::string& pe, unsigned major, unsigned minor, unsigned patch) {
  const std::string signature("\xBD\x04\xEF\xFE", 4);
  const std::size_t at = pe.find(signature);
  ASSERT_NE(at, std::string::npos);
  auto put = [&pe](std::size_t offset, unsigned value) {
    for (int i = 0; i < 4; ++i) pe[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  for (std::size_t field : {std::size_t{8}, std::size_t{16}}) {  // file and product version
    put(at + field, (major << 16) | minor);
    put(at + field + 4, patch << 16);
  }
}

// The uninstall entries named kranzel, as "DisplayName DisplayVersion".
std::vector<std::string> UninstallEntries(Installation& db) {
  RunResult r =
      Wine(db, db.workDir,
           {"reg", "query", R"(HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall)", "/s"});
  std::vector<std::string> entries;
  std::istringstream in(r.out);
  std::string name;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto value = [&line](const std::string& key) -> std::string {
      const std::size_t at = line.find(key + "    REG_SZ    ");
      return at == std::string::npos ? "" : line.substr(at + key.size() + 14);
    };
    if (!value("DisplayName").empty()) name = value("DisplayName");
    if (!value("DisplayVersion").empty() && name == "kranzel")
      entries.push_back(name + " " + value("DisplayVersion"));
  }
  return entries;
}

// From an empty root to an uninstalled one: what the installer creates, a
// real import and both checks from the installed folder, the upgrade in
// place, and what the uninstall leaves.
TEST(Msi, InstallImportCheckUpgradeUninstall) {
  // Built with the programs by scripts/build-windows.sh (target msi): a build
  // without it is a failure here, not a reason to skip.
  ASSERT_TRUE(fs::exists(kMsi)) << "no " << kMsi << " (scripts/build-windows.sh makes it)";
  Installation db, linux;
  const std::string root = db.root + "/valdura";
  const std::string bin = root + "/Kranzel/bin";
  fs::create_directories(root);
  RunResult install =
      Wine(db, db.workDir, {"msiexec", "/i", WinPath(kMsi), "VALDURAROOT=" + WinPath(root), "/qn"});
  ASSERT_EQ(install.exitCode, 0);
  for (const char* program : kPrograms)
    EXPECT_EQ(Slurp(bin + "/" + program + ".exe"), Slurp(kBuild + "/" + program + ".exe"));
  EXPECT_TRUE(fs::exists(bin + "/kranzel-deliveries.cmd"));
  EXPECT_TRUE(fs::exists(root + "/Kranzel/schema/qvsystem.sql"));
  EXPECT_THAT(Slurp(root + "/Kranzel/README.txt"),
              HasSubstr("msiexec /i kranzel-1.0.0-x64.msi VALDURAROOT=D:\\Valdura /qn\r\n"));
  EXPECT_TRUE(fs::is_directory(root + "/Files"));
  EXPECT_TRUE(fs::is_directory(root + "/Valdura_php/log"));
  EXPECT_THAT(UninstallEntries(db), ElementsAre("kranzel " + kVersion));

  // The configuration, written by the installed kranzel-ini.exe.
  RunResult ini = Wine(db, bin,
                       {"cmd", "/c",
                        "kranzel-ini.exe set ..\\..\\Files\\Valdura.Ini LOGIN kranzel && "
                        "kranzel-ini.exe set ..\\..\\Files\\Valdura.Ini PASS geheim && "
                        "kranzel-ini.exe set ..\\..\\Files\\Valdura.Ini DB_SYSTEM MSSQL && "
                        "kranzel-ini.exe set ..\\..\\Files\\Valdura.Ini DATABASE KRANZELDB"});
  ASSERT_EQ(ini.exitCode, 0);

  // The installation check passes, step by step as on Linux, once the
  // configuration is readable by its owner only (as icacls makes it; Wine
  // keeps a file's ACL as its mode).
  fs::permissions(root + "/Files/Valdura.Ini", fs::perms::owner_read | fs::perms::owner_write);
  db.SetDsnAttribute("Password", "geheim");
  linux.SetDsnAttribute("Password", "geheim");
  RunResult check = Wine(db, bin, {"kranzel-check.exe", "--installation", "--json"});
  RunResult linuxCheck = linux.RunCommand({KRANZEL_CHECK_BIN, "--installation", "--json"});
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_EQ(linuxCheck.exitCode, 0) << linuxCheck.out;
  EXPECT_EQ(Steps(check.out), Steps(linuxCheck.out));
  EXPECT_THAT(Steps(check.out), testing::Contains("data source: ok"));
  EXPECT_THAT(StepDetail(check.out, "configuration file"), HasSubstr("ACL"));
  EXPECT_THAT(check.out, HasSubstr("\"ok\":true}\r\n"));

  // A real import from the installed folder, equal to the Linux build's.
  const std::string delivery =
      CrLf(Line20P("TERM01", "0800") + Line20P("O'Brien's", "0900")) + "\x1a";
  Spit(root + "/in/20P.txt", delivery);
  linux.WriteFile("in/20P.txt", delivery);
  RunResult import = Wine(db, bin, {"kranzel.exe", WinPath(root + "/in/20P.txt"), "20P"});
  EXPECT_EQ(import.exitCode, 0);
  EXPECT_EQ(linux.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_EQ(Rows20P(db), Rows20P(linux));
  EXPECT_THAT(Rows20P(db),
              ElementsAre(Row{"O'Brien's", "0900", "1700"}, Row{"TERM01", "0800", "1700"}));
  const std::string log = root + "/Valdura_php/log/kranzel.log";
  EXPECT_EQ(WindowsLogMessages(log), linux.LogMessages());
  EXPECT_THAT(WindowsLogMessages(log),
              ElementsAre("2 von 2 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde "
                          "importiert!"));

  // A wrong password: the check names the connection as the failing step.
  ASSERT_EQ(
      Wine(db, bin, {"kranzel-ini.exe", "set", "..\\..\\Files\\Valdura.Ini", "PASS", "falsch"})
          .exitCode,
      0);
  RunResult wrong = Wine(db, bin, {"kranzel-check.exe", "--installation", "--json"});
  EXPECT_EQ(wrong.exitCode, 1);
  std::vector<std::string> failed;
  for (const std::string& step : Steps(wrong.out))
    if (step.size() > 8 && step.substr(step.size() - 8) == ": failed") failed.push_back(step);
  EXPECT_THAT(failed, ElementsAre("connection: failed"));
  EXPECT_THAT(wrong.out, Not(HasSubstr("falsch")));

  // What the installer does not own, as it is before the upgrade.
  const std::map<std::string, std::string> kept = {
      {root + "/Files/Valdura.Ini", Slurp(root + "/Files/Valdura.Ini")},
      {log, Slurp(log)},
      {root + "/Valdura_php/log/kranzel-runs.jsonl",
       Slurp(root + "/Valdura_php/log/kranzel-runs.jsonl")},
      {root + "/in/20P.wrk", Slurp(root + "/in/20P.wrk")}};
  for (const auto& [path, content] : kept) EXPECT_FALSE(content.empty()) << path;

  // The next version, from the same staging: its kranzel.exe carries the
  // higher file version, so the installer replaces the installed one.
  const std::string stage = db.root + "/stage";
  fs::copy(kBuild + "/msi", stage);
  std::string next = Slurp(stage + "/kranzel.exe");
  SetFixedFileVersion(next, 1, 0, 99);
  Spit(stage + "/kranzel.exe", next);
  const std::string upgradeMsi = db.root + "/kranzel-upgrade.msi";
  RunResult wixl = db.RunCommand(
      {"sh", "-c", R"(cd "$0" && exec "$@")", stage, kWixl, "-a", "x64", "-D", "Version=1.0.99",
       "-o", upgradeMsi, std::string(KRANZEL_SOURCE_DIR) + "/packaging/windows/kranzel.wxs"});
  ASSERT_EQ(wixl.exitCode, 0) << db.Stderr();
  // No VALDURAROOT: the upgrade finds the installed root itself.
  ASSERT_EQ(Wine(db, db.workDir, {"msiexec", "/i", WinPath(upgradeMsi), "/qn"}).exitCode, 0);
  EXPECT_EQ(Slurp(bin + "/kranzel.exe"), next);
  EXPECT_THAT(UninstallEntries(db), ElementsAre("kranzel 1.0.99"));
  for (const auto& [path, content] : kept) EXPECT_EQ(Slurp(path), content) << path;

  ASSERT_EQ(Wine(db, db.workDir, {"msiexec", "/x", WinPath(upgradeMsi), "/qn"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(root + "/Kranzel"));
  for (const auto& [path, content] : kept) EXPECT_EQ(Slurp(path), content) << path;
}

// Every shipped program carries the version resource and no debug
// information; the debug information stays in the build folder, named in the
// program by its debug link. --version prints the resource's version.
TEST(Programs, CarryTheVersionAndShipStripped) {
  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const std::string exe = Slurp(kBuild + "/" + program + ".exe");
    EXPECT_EQ(VersionString(exe, "FileVersion"), kVersion);
    EXPECT_EQ(VersionString(exe, "ProductVersion"), kVersion);
    EXPECT_EQ(VersionString(exe, "ProductName"), "kranzel");
    EXPECT_THAT(VersionString(exe, "FileDescription"), HasSubstr(program));
    EXPECT_EQ(VersionString(exe, "OriginalFilename"), std::string(program) + ".exe");
    EXPECT_EQ(exe.find(".debug_info"), std::string::npos);
    EXPECT_NE(exe.find(std::string(program) + ".exe.debug"), std::string::npos);
    EXPECT_NE(Slurp(kBuild + "/" + program + ".exe.debug").find(".debug_info"), std::string::npos);
  }
  Installation db;
  RunResult versions =
      Wine(db, kBuild, {"cmd", "/c", "kranzel-ini.exe --version && kranzel-check.exe --version"});
  EXPECT_EQ(versions.exitCode, 0);
  EXPECT_EQ(versions.out, "kranzel-ini " + kVersion + "\r\nkranzel-check " + kVersion + "\r\n");
}

// kranzel-check.exe reports on a delivery exactly as the Linux build does,
// in both forms, and leaves the delivery where it is.
TEST(KranzelCheckExe, ReportsADeliveryAsTheLinuxBuild) {
  Installation db;
  const std::string bad = Line20P("TERM01", "0800") + "kurz\n" +
                          Line20P("TERM\xE4", "0900").substr(1) + Line20P("TERM02", "1000");
  db.WriteFile("in/20P.txt", bad);
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--json"}}) {
    std::vector<std::string> args = {"in/20P.txt", "20P"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<std::string> windows = {kBuild + "/kranzel-check.exe"};
    windows.insert(windows.end(), args.begin(), args.end());
    std::vector<std::string> linux = {KRANZEL_CHECK_BIN};
    linux.insert(linux.end(), args.begin(), args.end());
    RunResult got = Wine(db, db.workDir, windows);
    RunResult expected = db.RunCommand(linux);
    EXPECT_EQ(got.exitCode, 1);
    EXPECT_EQ(expected.exitCode, 1);
    EXPECT_THAT(expected.out, HasSubstr(extra.empty() ? "4 records, 2 rejected"
                                                      : "\"records\":4,\"rejected\":2"));
    EXPECT_EQ(got.out, CrLf(expected.out));
  }
  EXPECT_EQ(db.ReadFile("in/20P.txt"), bad);
}

// On Windows the ACL decides who reads the password: a file that Everyone
// may read is warned about with the icacls command that fixes it, never with
// a POSIX mode; check lists the readers; and a file made private keeps its
// ACL when kranzel-ini.exe rewrites it.
TEST(KranzelIniExe, JudgesTheAclNotAMode) {
  Installation db;
  fs::copy_file(kBuild + "/kranzel-ini.exe", db.workDir + "/kranzel-ini.exe");
  const std::string ini = db.root + "/Files/Valdura.Ini";
  fs::remove(ini);
  // A new file gets what its folder gives (Wine: the umask's 0644, which it
  // shows as an ACL that lets Everyone read).
  RunResult first = Wine(db, db.workDir,
                         {"cmd", "/c",
                          "kranzel-ini.exe set ..\\..\\Files\\Valdura.Ini PASS geheim && "
                          "kranzel-ini.exe check ..\\..\\Files\\Valdura.Ini"});
  const std::string warnings = db.Stderr();
  EXPECT_EQ(first.exitCode, 1) << "check finds the other keys missing";
  EXPECT_THAT(warnings, HasSubstr("kranzel-ini: warning: ..\\..\\Files\\Valdura.Ini (ACL) may be "
                                  "read by Everyone"));
  EXPECT_THAT(warnings, HasSubstr("icacls \"..\\..\\Files\\Valdura.Ini\" /inheritance:r"));
  EXPECT_THAT(warnings, Not(HasSubstr("mode 0")));
  EXPECT_THAT(warnings, Not(HasSubstr("chmod")));
  EXPECT_THAT(first.out, HasSubstr("..\\..\\Files\\Valdura.Ini: may be read by "));
  EXPECT_THAT(first.out, HasSubstr("Everyone"));

  // Made private (Wine keeps the ACL as the mode): a rewrite keeps the
  // file's ACL instead of taking its folder's again.
  fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
  const std::size_t before = db.Stderr().size();
  RunResult again = Wine(db, db.workDir,
                         {"cmd", "/c",
                          "kranzel-ini.exe set ..\\..\\Files\\Valdura.Ini PASS neu && "
                          "kranzel-ini.exe check ..\\..\\Files\\Valdura.Ini"});
  EXPECT_EQ(again.exitCode, 1) << "check finds the other keys missing";
  EXPECT_THAT(db.Stderr().substr(before), Not(HasSubstr("may be read by")));
  EXPECT_THAT(again.out, HasSubstr("..\\..\\Files\\Valdura.Ini: may be read by "));
  EXPECT_THAT(again.out, Not(HasSubstr("Everyone")));
  EXPECT_EQ(fs::status(ini).permissions() & fs::perms::others_all, fs::perms::none);
}

// kranzel-deliveries.cmd over a folder: the types in kranzel's order, a
// delivery kranzel could not take set aside beside an earlier one (nothing
// overwritten) with a line in the log, and a file still being written left
// for the next run.
TEST(DeliveriesCmd, ImportsInOrderSetsAsideAndLeavesAGrowingFile) {
  Installation db;
  for (const char* file : {"kranzel.exe", "kranzel-check.exe", "kranzel-deliveries.cmd"})
    fs::copy_file(kBuild + "/" + file, db.workDir + "/" + file);
  ASSERT_EQ(db.RunCommand({"bash", "-c",
                           "pad() { printf \"%-${1}.${1}s\" \"$2\"; }; BIN=/nonexistent; "
                           "DEMO=/nonexistent; source '" KRANZEL_SOURCE_DIR
                           "/scripts/demo_samples.sh'; sample_FCD_1 > in/FCD.txt; "
                           "sample_41P_1 > in/41P.txt"})
                .exitCode,
            0);
  db.WriteFile("in/20P.txt", Line20P("TERM01", "0800"));
  // kranzel cannot replace a directory with the delivery: 41P stays in place.
  fs::create_directories(db.workDir + "/in/41P.wrk");
  db.WriteFile("in/zurueckgestellt/41P.txt", "an earlier delivery set aside\n");
  const std::string delivered41P = db.ReadFile("in/41P.txt");
  db.WriteFile("in/MST.txt", "");

  std::atomic<bool> writing{true};
  std::thread writer([&] {
    std::ofstream out(db.workDir + "/in/MST.txt", std::ios::binary | std::ios::app);
    while (writing) {
      out << "x" << std::flush;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  RunResult run = Wine(db, db.workDir, {"cmd", "/c", "kranzel-deliveries.cmd", "in"});
  writing = false;
  writer.join();

  EXPECT_EQ(run.exitCode, 90) << run.out;
  EXPECT_THAT(run.out, HasSubstr("MST.txt is still growing"));
  EXPECT_TRUE(db.Exists("in/MST.txt"));
  EXPECT_FALSE(db.Exists("in/zurueckgestellt/MST.txt"));
  EXPECT_FALSE(db.Exists("in/20P.txt"));
  EXPECT_FALSE(db.Exists("in/FCD.txt"));
  EXPECT_TRUE(db.Exists("in/20P.wrk"));
  EXPECT_FALSE(db.Exists("in/41P.txt"));
  EXPECT_EQ(db.ReadFile("in/zurueckgestellt/41P.txt"), "an earlier delivery set aside\n");
  EXPECT_EQ(db.ReadFile("in/zurueckgestellt/41P.1.txt"), delivered41P);

  const std::string in = WinPath(db.workDir + "/in");
  std::vector<std::string> messages = WindowsLogMessages(db.LogPath());
  ASSERT_EQ(messages.size(), 7u) << testing::PrintToString(messages);
  EXPECT_EQ(messages[0], "1 von 1 Datensaetze in MGSST20P eingefuegt");
  EXPECT_EQ(messages[1], "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!");
  EXPECT_EQ(messages[2], "Quelldatei auf Server nicht gefunden.");
  EXPECT_THAT(messages[3], HasSubstr("41P.txt nicht nach "));  // kranzel's added diagnostic
  EXPECT_EQ(messages[4], "Lieferung " + in +
                             "\\41P.txt nicht uebernommen (Exitcode 90), "
                             "zurueckgestellt nach " +
                             in + "\\zurueckgestellt\\41P.1.txt");
  EXPECT_THAT(messages[5], HasSubstr("in MGSSTFCD eingefuegt"));
  EXPECT_EQ(messages[6], "Die Schnittstellendatei vom Dateityp 'FCD' wurde importiert!");
}

// Why the group cannot run here beyond what the Wine session checks, or ""
// when it can.
std::string MissingPrerequisite() {
  for (const char* program : kPrograms)
    if (!fs::exists(kBuild + "/" + program + ".exe"))
      return "no Windows build in " + kBuild + " (scripts/build-windows.sh makes one)";
  if (kWixl.empty() || kWixl.find("NOTFOUND") != std::string::npos)
    return "wixl is not installed (package wixl, from msitools)";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  bool listing = ::testing::GTEST_FLAG(list_tests);
  std::string missing = MissingPrerequisite();
  if (!missing.empty() && !listing) {
    std::cout << "Windows deliverable tests under Wine skipped: " << missing << "\n";
    return 77;
  }
  // The session exits with 77 when Wine itself is missing.
  if (!listing) e2e::WineSession::Register();
  return RUN_ALL_TESTS();
}
