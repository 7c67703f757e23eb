// The stand-in seen from outside programs: unixODBC's isql connecting to a
// stand-in DSN, and the kranzel-standin command (create, exec).
#include <gtest/gtest.h>

#include <filesystem>

#include "standin/driver_test_util.h"

namespace standin_test {
namespace {

std::string Tool(const std::string& args) { return SanitizerPreload() + STANDIN_TOOL + " " + args; }

TEST(DriverIsql, IsqlConnectsToStandinDsnAndRunsQuery) {
  TestDsn dsn;
  {
    Connection conn;
    ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
    Statement st(conn.dbc);
    ASSERT_EQ(st.Exec("INSERT INTO QVSYSTEM.Qvs120Kid (KidKst, KidMnd, KidLiz, KidTxt) VALUES "
                      "('K1', 'M1', 'L1', 'Kostenstelle')"),
              SQL_SUCCESS)
        << st.FirstDiag().message;
  }
  auto [rc, out] = RunCommand("printf 'SELECT KidKst, KidTxt FROM QVSYSTEM.Qvs120Kid\\nquit\\n' | " +
                                  SanitizerPreload() + "/usr/bin/isql -b -v -d'|' " + dsn.dsn + " kranzel geheim",
                              true);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("K1|Kostenstelle"), std::string::npos) << out;
  std::string journal = Slurp(dsn.journalPath);
  std::string typed = "SELECT KidKst, KidTxt FROM QVSYSTEM.Qvs120Kid\n";
  ASSERT_GE(journal.size(), typed.size());
  EXPECT_EQ(journal.substr(journal.size() - typed.size()), typed) << "isql's statement reached the driver as typed";
}

TEST(DriverIsql, IsqlWithWrongPasswordShowsLoginFailure) {
  TestDsn dsn;
  auto [rc, out] =
      RunCommand("echo quit | " + SanitizerPreload() + "/usr/bin/isql -b -v " + dsn.dsn + " kranzel falsch", true);
  EXPECT_NE(rc, 0);
  EXPECT_NE(out.find("[KranzelStandin][SQL Server]Login failed for user 'kranzel'."), std::string::npos) << out;
}

TEST(DriverTool, ExecPrintsRowsTabSeparatedWithNullMarker) {
  TestDsn dsn;
  auto [rc, out] = RunCommand(
      Tool("exec " + ShellQuote(dsn.dbPath) + " " +
           ShellQuote("INSERT INTO QVSYSTEM.Qvs120Kid (KidKst, KidMnd, KidLiz, KidSta) VALUES ('K', 'M', 'L', 3)")),
      true);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "") << "a statement without result prints nothing";
  std::tie(rc, out) = RunCommand(Tool("exec " + ShellQuote(dsn.dbPath) + " " +
                                      ShellQuote("SELECT KidKst, KidTxt, KidSta FROM QVSYSTEM.Qvs120Kid")));
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "K\t<NULL>\t3\n");
}

TEST(DriverTool, ExecFailureExitsNonZeroWithServerErrorOnStderr) {
  TestDsn dsn;
  auto [rc, out] = RunCommand(
      Tool("exec " + ShellQuote(dsn.dbPath) + " " + ShellQuote("SELECT A FROM QVSYSTEM.NOPE") + " 2>&1 >/dev/null"));
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(out.rfind("Msg ", 0), 0u) << out;
  EXPECT_NE(out.find("NOPE"), std::string::npos) << out;
}

TEST(DriverTool, ExecOnMissingDatabaseFailsWithoutCreatingIt) {
  TestDsn dsn;
  std::string missing = dsn.dir + "/missing.sqlite";
  auto [rc, out] = RunCommand(Tool("exec " + ShellQuote(missing) + " 'SELECT 1'"), true);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("Msg 4060"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(DriverTool, CreateExtendsAnExistingDatabase) {
  TestDsn dsn;
  Spit(dsn.dir + "/extra.sql", "CREATE TABLE QVSYSTEM.Extra (ExtKey varchar(3) NOT NULL)\nGO\n");
  auto [rc, out] =
      RunCommand(Tool("create " + ShellQuote(dsn.dbPath) + " " + ShellQuote(dsn.dir + "/extra.sql")), true);
  ASSERT_EQ(rc, 0) << out;
  std::tie(rc, out) = RunCommand(
      Tool("exec " + ShellQuote(dsn.dbPath) + " " + ShellQuote("INSERT INTO QVSYSTEM.Extra (ExtKey) VALUES ('abc')")),
      true);
  ASSERT_EQ(rc, 0) << out;
  std::tie(rc, out) = RunCommand(
      Tool("exec " + ShellQuote(dsn.dbPath) + " " + ShellQuote("SELECT COUNT(*) FROM QVSYSTEM.Extra") + " " + ""));
  EXPECT_EQ(out, "1\n");
  std::tie(rc, out) =
      RunCommand(Tool("exec " + ShellQuote(dsn.dbPath) + " " + ShellQuote("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P")));
  EXPECT_EQ(out, "0\n") << "the schema's tables are still there";
}

TEST(DriverTool, CreateWithUnreadableDdlFileOrWrongArgumentsFails) {
  TestDsn dsn;
  auto [rc, out] = RunCommand(Tool("create " + ShellQuote(dsn.dbPath) + " " + ShellQuote(dsn.dir + "/none.sql")), true);
  EXPECT_EQ(rc, 1) << out;
  std::tie(rc, out) = RunCommand(Tool("drop " + ShellQuote(dsn.dbPath) + " x"), true);
  EXPECT_EQ(rc, 2);
  EXPECT_NE(out.find("usage:"), std::string::npos);
  std::tie(rc, out) = RunCommand(Tool("exec " + ShellQuote(dsn.dbPath)), true);
  EXPECT_EQ(rc, 2);
}

}  // namespace
}  // namespace standin_test
