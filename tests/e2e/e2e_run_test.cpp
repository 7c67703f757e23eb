// The run end to end: command line, switches, work file, start-up, exit codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/cipher.h"
#include "config/ini.h"
#include "e2e/harness.h"

using e2e::Installation;
using ::testing::ElementsAre;

namespace {

const char* kBannerAndUsage =
    "\n"
    "******************************************************\n"
    "** Projekt     : ORVALSTATIONHUB                    **\n"
    "** Tool        : Daten-Import                       **\n"
    "** Beschreibung: Einlesen der Schnittstellendateien **\n"
    "**   in entsprechende Tabellen des Orvalstationhubs **\n"
    "**                                                  **\n"
    "******************************************************\n"
    "\n"
    "Befehlsformat: \n"
    "Kranzel_<DBSys>.exe  <Quelldatei>  <Dateityp>  [/D] \n"
    "DBSys     : Datenbanksystem\n"
    "Quelldatei: Verzeichnis (Pfad)  und Name der Quelldatei\n"
    "Dateityp  : 20p  f. Datei MGSST20P\n"
    "            35p  f. Datei MGSST35P\n"
    "            41p  f. Datei MGSST41P\n"
    "            Mnd  f. Datei MNDSTAMM\n"
    "            SLD  f. Datei SALDO\n"
    "            IDN  f. Datei IDStamm\n"
    "            KST  f. Datei Kostenst\n"
    "            BKL  f. Datei AswBkl\n"
    "            ftg  f. Datei Feiertag\n"
    "            mst  f. Datei MitarbeiterStatus\n"
    "            mdt  f. Datei MitarbeiterDetail\n"
    "            fcd  f. Datei Funktionscodes\n"
    "/D        : DebugFlag, optional, Ausgabe von Meldungen im DOS-Fenster\n"
    "\n"
    "Parameterfehler";

std::string Line20P(const std::string& trm, const std::string& ofb) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {ofb, 4}});
}

const char* kReconnectFailed[] = {
    "Datenbankverbindung fehlgeschlagen, Fehler: -1",
    "1. Versuch zur Wiederherstellung der Datenbankverbindung!",
    "Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: 1",
    "2. Versuch zur Wiederherstellung der Datenbankverbindung!",
    "Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: 2",
    "3. Versuch zur Wiederherstellung der Datenbankverbindung!",
    "Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: 3",
    "4. Versuch zur Wiederherstellung der Datenbankverbindung!",
    "Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: 4",
    "5. Versuch zur Wiederherstellung der Datenbankverbindung!",
    "Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: 5",
};

// The log without the lines added beside the fixed messages (the driver's
// diagnostics, the path not found), which e2e_diagnostics_test checks.
std::vector<std::string> FixedMessages(const Installation& db) {
  std::vector<std::string> out;
  for (const std::string& m : db.LogMessages()) {
    bool added = m.rfind("ODBC: ", 0) == 0 ||
                 (m.rfind("Quelldatei ", 0) == 0 && m != "Quelldatei auf Server nicht gefunden.");
    if (!added) out.push_back(m);
  }
  return out;
}

TEST(Run, TooFewArgumentsPrintsBannerUsageAndExits90) {
  Installation db;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"in/20P.txt"}}) {
    auto r = db.Run(args, false);
    EXPECT_EQ(r.exitCode, 90);
    EXPECT_EQ(r.out, kBannerAndUsage);
  }
  EXPECT_FALSE(std::filesystem::exists(db.LogPath()));
  EXPECT_TRUE(db.TakeJournal().empty());
}

TEST(Run, UnknownFileTypeEndsAtTheFirstAttempt) {
  Installation db;
  db.WriteFile("in/20.txt", Line20P("T", "1"));
  auto r = db.Run({"in/20.txt", "20"});
  EXPECT_EQ(r.exitCode, 90);
  EXPECT_THAT(db.LogMessages(), ElementsAre("unbekannter Dateityp 20!"));
  EXPECT_TRUE(db.Exists("in/20.wrk"));
}

TEST(Run, FileTypeIsTheFirstThreeCharactersUpperCased) {
  Installation db;
  db.WriteFile("in/a.b.txt", Line20P("T", "1"));
  EXPECT_EQ(db.Run({"in/a.b.txt", "20pxyz"}).exitCode, 0);
  EXPECT_TRUE(db.Exists("in/a.b.wrk"));
  EXPECT_EQ(db.LogMessages().back(),
            "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!");
}

TEST(Run, MissingSourceKeepsTheOlderWorkFile) {
  Installation db;
  db.WriteFile("in/20P.wrk", "the last file delivered");
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 90);
  EXPECT_THAT(FixedMessages(db), ElementsAre("Quelldatei auf Server nicht gefunden."));
  EXPECT_EQ(db.ReadFile("in/20P.wrk"), "the last file delivered");
}

TEST(Run, SourceReplacesAnOlderWorkFile) {
  Installation db;
  db.WriteFile("in/20P.wrk", "old");
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_EQ(db.ReadFile("in/20P.wrk"), Line20P("T", "1"));
  // A dot in a directory name counts when the file name has none.
  db.WriteFile("in.d/datei", Line20P("T", "2"));
  EXPECT_EQ(db.Run({"in.d/datei", "20P"}).exitCode, 0);
  EXPECT_TRUE(db.Exists("in.wrk"));
}

TEST(Run, DatabaseDownAtStartExits99AndLeavesTheSource) {
  Installation db;
  db.SetControl("refuse_connect all\n");
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 99);
  EXPECT_EQ(FixedMessages(db),
            std::vector<std::string>(std::begin(kReconnectFailed), std::end(kReconnectFailed)));
  EXPECT_TRUE(db.Exists("in/20P.txt"));
  EXPECT_FALSE(db.Exists("in/20P.wrk"));
}

TEST(Run, DatabaseBackWhileReconnectingImports) {
  Installation db;
  db.SetControl("refuse_connect 3\n");
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0);
  auto log = FixedMessages(db);
  ASSERT_GE(log.size(), 7u);
  std::vector<std::string> head(log.begin(), log.begin() + 6);
  EXPECT_THAT(head, ElementsAre(kReconnectFailed[0], kReconnectFailed[1], kReconnectFailed[2],
                                kReconnectFailed[3], kReconnectFailed[4],
                                "3. Versuch zur Wiederherstellung der Datenbankverbindung!"));
  EXPECT_EQ(log[6], "Die Verbindung zur Datenbank wurde wiederhergestellt!");
}

TEST(Run, ConfiguredCredentialsReachTheServer) {
  Installation db;
  // Longer than the 23 characters the connect step once cut values to.
  const std::string password = "a-long-password-of-42-characters-0123456";
  db.SetDsnAttribute("Password", password);
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
  db.SetIni("PASS", password);
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
}

// A configuration written by hand (kranzel-ini refuses such DATABASE values).
void WriteIniByHand(const Installation& db, const std::string& database) {
  std::string text;
  int number = 1;
  for (const auto& [key, value] :
       std::vector<std::pair<std::string, std::string>>{{"LOGIN", "kranzel"},
                                                        {"PASS", "geheim"},
                                                        {"DB_SYSTEM", "MSSQL"},
                                                        {"DATABASE", database}}) {
    text += "[" + key + "];" + key + ";\n" + std::to_string(number++) + ";" + key + ";" +
            config::EncryptHex(value, config::kIniKey) + "\n";
  }
  std::ofstream(db.root + "/Files/Valdura.Ini", std::ios::binary | std::ios::trunc) << text;
}

TEST(Run, DatabaseNameLongerThan40CharactersIsNotUsed) {
  Installation db;
  WriteIniByHand(db, std::string(41, 'K'));
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
  EXPECT_EQ(db.LogMessages().at(0), "Datenbankverbindung fehlgeschlagen, Fehler: -1");
  EXPECT_THAT(db.LogMessages().at(1), ::testing::EndsWith("(nativer Fehler 0, kein DSN)"));
  // 33 to 40 characters are taken, and refused by the driver manager.
  WriteIniByHand(db, std::string(40, 'K'));
  std::filesystem::remove(db.LogPath());
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
  EXPECT_EQ(db.LogMessages().at(1),
            "ODBC: HY090 [unixODBC][Driver Manager]Invalid string or buffer "
            "length (nativer Fehler 0, DSN " +
                std::string(40, 'K') + ")");
}

TEST(Run, DebugSwitchPrintsMessagesInsteadOfLogging) {
  Installation db;
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  auto r = db.Run({"in/20P.txt", "20P", "/d"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "1 von 1 Datensaetze in MGSST20P eingefuegt\n"
            "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!\n");
  EXPECT_FALSE(std::filesystem::exists(db.LogPath()));
}

TEST(Run, SwitchesCountOnlyInTheOrderUpdThenDebug) {
  Installation db;
  db.WriteFile("in/20P.txt", Line20P("KEEP", "1"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  auto rows = [&] { return db.Query("SELECT M20Trm FROM QVSYSTEM.MGSST20P").size(); };

  db.WriteFile("in/20P.txt", Line20P("NEW1", "1"));
  auto both = db.Run({"in/20P.txt", "20P", "upd", "/D"});
  EXPECT_NE(both.out.find("wurde importiert!"), std::string::npos);
  EXPECT_EQ(rows(), 2u);  // UpdateMode: nothing swept

  db.WriteFile("in/20P.txt", Line20P("NEW2", "1"));
  auto neither = db.Run({"in/20P.txt", "20P", "/D", "UPD"});
  EXPECT_EQ(neither.out, "");
  EXPECT_EQ(rows(), 1u);  // swept: no UpdateMode

  db.WriteFile("in/20P.txt", Line20P("NEW3", "1"));
  auto updOnly = db.Run({"in/20P.txt", "20P", "UPD", "x", "/D"});
  EXPECT_EQ(updOnly.out, "");
  EXPECT_EQ(rows(), 2u);
}

TEST(Run, LogIsRotatedWhenTheFirstLinePassesTheThreshold) {
  SKIP_UNDER_WINE("the CR of each line counts on Windows (tests/wine checks that threshold)");
  Installation db;
  {
    std::ofstream log(db.LogPath(), std::ios::binary);
    std::string full;
    full.assign(10485760, 'x');
    log << full;
  }
  db.WriteFile("in/20P.txt", Line20P("T", "1"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  std::string old = db.root + "/Valdura_php/log/kranzel.old";
  ASSERT_TRUE(std::filesystem::exists(old));
  std::ifstream in(old, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content.size(),
            10485760u + 20 + std::string("1 von 1 Datensaetze in MGSST20P eingefuegt\n").size());
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
}

}  // namespace
