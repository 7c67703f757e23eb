// What an operator sees when a setup is wrong: the lines added beside the
// fixed messages (which stay as they are, as do the exit codes) tell a
// missing log directory, a full disk, a wrong DSN, a wrong password, a server
// that is down, a missing configuration file and a missing source apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "e2e/harness.h"

using e2e::Installation;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string Line20P(const std::string& trm) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {"1700", 4}});
}

// What the runs so far wrote on standard error about the log (without the
// lines on lock files and on the run summary, which cannot be written in a
// missing log directory either).
std::string Stderr(const Installation& db) {
  std::istringstream in(db.Stderr());
  std::string out, line;
  while (std::getline(in, line))
    if (line.find("Sperrdatei") == std::string::npos &&
        line.find("Laufuebersicht") == std::string::npos)
      out += line + "\n";
  return out;
}

TEST(Diagnostics, LogThatCannotBeWrittenIsSaidOnceOnStandardError) {
  Installation db;
  const std::string logDir = db.root + "/Valdura_php/log";
  std::filesystem::remove_all(logDir);
  db.WriteFile("in/20P.txt", Line20P("T1"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);  // two messages lost, one line
  EXPECT_EQ(Stderr(db),
            "kranzel: Logdatei ../../Valdura_php/log/kranzel.log kann nicht "
            "geschrieben werden: No such file or directory\n");
  EXPECT_EQ(db.Query("SELECT M20Trm FROM QVSYSTEM.MGSST20P").size(), 1u);
  EXPECT_EQ(db.Run({"in/missing.txt", "20P"}).exitCode, 90);

  // A full disk shows when the line is flushed.
  SKIP_UNDER_WINE("/dev/full, the full disk, is a device of the host");
  std::filesystem::create_directories(logDir);
  std::filesystem::create_symlink("/dev/full", db.LogPath());
  db.WriteFile("in/20P.txt", Line20P("T2"));
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  std::string err = Stderr(db);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
  EXPECT_THAT(err,
              HasSubstr("kranzel.log kann nicht geschrieben werden: No space left on device\n"));
  // /dev/full reads as endless zero bytes: nothing may read the log after this.
  std::filesystem::remove(db.LogPath());
}

struct ConnectCase {
  const char* name;
  std::function<void(Installation&)> setUp;
  std::string diag;    // the added line after each failed connect
  std::string config;  // the added line about the configuration file, or ""
};

TEST(Diagnostics, EachConnectFailureNamesItsCause) {
  const std::vector<ConnectCase> cases = {
      {"wrong DSN", [](Installation& db) { db.SetIni("DATABASE", "NOSUCHDSN"); },
       "ODBC: IM002 [unixODBC][Driver Manager]Data source name not found and no default driver "
       "specified (nativer Fehler 0, DSN NOSUCHDSN)",
       ""},
      {"wrong password", [](Installation& db) { db.SetIni("PASS", "falsch"); },
       "ODBC: 28000 [unixODBC][KranzelStandin][SQL Server]Login failed for user 'kranzel'. "
       "(nativer Fehler 18456, DSN KRANZELDB)",
       ""},
      {"server down", [](Installation& db) { db.SetControl("refuse_connect all\n"); },
       "ODBC: 08001 [unixODBC][KranzelStandin][DBNETLIB]SQL Server does not exist or access denied "
       "(connection refused by the stand-in's control file). (nativer Fehler 17, DSN KRANZELDB)",
       ""},
      {"no configuration file",
       [](Installation& db) { std::filesystem::remove(db.root + "/Files/Valdura.Ini"); },
       "ODBC: IM002 [unixODBC][Driver Manager]Data source name not found and no default driver "
       "specified (nativer Fehler 0, kein DSN)",
       "Konfigurationsdatei ../../Files/Valdura.Ini nicht lesbar: No such file or directory"},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(c.name);
    Installation db;
    c.setUp(db);
    db.WriteFile("in/20P.txt", Line20P("T"));
    EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
    std::vector<std::string> log = db.LogMessages();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "Datenbankverbindung fehlgeschlagen, Fehler: -1");
    // The same added line after the failed login and after each of the five
    // failed reconnects, and the password in none of them.
    std::vector<std::string> diags;
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i].rfind("ODBC: ", 0) != 0) continue;
      diags.push_back(log[i]);
      EXPECT_TRUE(i == 1 || log[i - 1].rfind("Fehler dbConnect(dbReconnect)! RC: -1", 0) == 0) << i;
      EXPECT_THAT(log[i], ::testing::Not(HasSubstr("geheim")));
      EXPECT_THAT(log[i], ::testing::Not(HasSubstr("falsch")));
    }
    ASSERT_EQ(diags.size(), 6u);
    for (const std::string& d : diags) EXPECT_EQ(d, diags[0]);
    EXPECT_EQ(diags[0], c.diag);
    if (!c.config.empty()) {
      EXPECT_EQ(log[2], c.config);
    } else {
      EXPECT_EQ(std::count_if(
                    log.begin(), log.end(),
                    [](const std::string& l) { return l.rfind("Konfigurationsdatei", 0) == 0; }),
                0);
    }
  }
}

TEST(Diagnostics, MissingSourceIsNamedBesideTheFixedMessage) {
  Installation db;
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 90);
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("Quelldatei auf Server nicht gefunden.",
                          "Quelldatei in/20P.txt nicht nach in/20P.wrk umbenannt: No such file or "
                          "directory"));
}

}  // namespace
