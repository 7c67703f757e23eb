// The SQL Server clients people use, against the stand-in's TDS listener:
// FreeTDS's tsql, unixODBC's isql (without -e), pymssql, PHP's pdo_dblib and
// odbc, Perl's DBD::Sybase and Node's tedious. Each logs in, reads typed
// columns, runs a zero-row and a one-row UPDATE, meets a duplicate key
// (2627), rolls a transaction back and works in two sessions at once, while
// a third session sits idle logged in. The scripts of the clients are in
// tests/clients. A client that is not installed fails its test and names
// the package (scripts/install-clients.sh installs them all).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>

#include "e2e/harness.h"
#include "e2e/tds_raw_client.h"

using e2e::Installation;
using e2e::Path;
using ::testing::HasSubstr;

#ifndef KRANZEL_NODE_CLIENTS
#define KRANZEL_NODE_CLIENTS ""
#endif

namespace {

const char* const kSteps[] = {"login", "typed-select", "update-0",    "update-1",
                              "2627",  "rollback",     "two-sessions"};

// True when `program` is found on PATH.
bool Have(const std::string& program) {
  return std::system(("command -v " + program + " > /dev/null 2>&1").c_str()) == 0;
}

class TdsClients : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::TdsUnavailable().empty()) GTEST_FAIL() << "missing: " << e2e::TdsUnavailable();
    db_ = std::make_unique<Installation>(Path::Tds);
    db_->Exec(
        "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb, M20Dat) "
        "VALUES ('TERM01', 'A', '1', '12345', '0800', '1700', CURRENT_TIMESTAMP)");
    port_ = db_->StartListener();
    // A third session that logs in and sits idle until the test ends.
    idle_ = std::make_unique<e2e::RawClient>(port_);
    ASSERT_TRUE(idle_->LogIn("kranzel", "geheim"));
  }
  void TearDown() override {
    idle_.reset();
    if (db_) db_->StopListener();
  }

  // Runs a client script of tests/clients with the listener's port in PORT
  // and checks that it passed every step.
  void RunScript(const std::vector<std::string>& argv,
                 const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::vector<std::pair<std::string, std::string>> all = {{"PORT", std::to_string(port_)}};
    all.insert(all.end(), env.begin(), env.end());
    e2e::RunResult r = db_->RunCommand(argv, all);
    for (const char* step : kSteps)
      EXPECT_THAT(r.out, HasSubstr(std::string("ok ") + step + "\n")) << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out << db_->Stderr();
  }
  static std::string Script(const std::string& name) {
    return std::string(KRANZEL_SOURCE_DIR) + "/tests/clients/" + name;
  }

  std::unique_ptr<Installation> db_;
  int port_ = 0;
  std::unique_ptr<e2e::RawClient> idle_;
};

#define REQUIRE(cond, what)                                                       \
  do {                                                                            \
    if (!(cond))                                                                  \
      GTEST_FAIL() << "missing: " << (what)                                       \
                   << " (scripts/install-clients.sh installs the client matrix)"; \
  } while (0)

TEST_F(TdsClients, Tsql) {
  REQUIRE(Have("tsql"), "FreeTDS's tsql (Debian package freetds-bin)");
  std::string in = db_->root + "/tsql-input.txt";
  std::ofstream(in)
      << "SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P GROUP BY M20Trm, M20Dat\ngo\n"
         "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1' WHERE M20Trm = 'NOSUCH'\n"
         "SELECT @@ROWCOUNT AS zero\ngo\n"
         "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1701' WHERE M20Trm = 'TERM01'\n"
         "SELECT @@ROWCOUNT AS one\ngo\n"
         "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) "
         "VALUES ('TERM01', 'A', '1', '12345', '0800')\ngo\n"
         "BEGIN TRAN UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '9999' ROLLBACK\ngo\n"
         "SELECT M20Ofb FROM QVSYSTEM.MGSST20P\ngo\nquit\n";
  std::string cmd =
      "TDSVER=7.4 tsql -H 127.0.0.1 -p " + std::to_string(port_) + " -U kranzel -P geheim < " + in;
  // Two at once: the second runs while the first is still connected.
  e2e::RunResult r = db_->RunCommand(
      {"sh", "-c",
       R"((sleep 1; printf 'SELECT 2 AS second\ngo\nquit\n') | )" +
           std::string("TDSVER=7.4 tsql -H 127.0.0.1 -p ") + std::to_string(port_) +
           " -U kranzel -P geheim > second.txt 2>&1 & " + cmd + " 2>&1; wait; cat second.txt"});
  EXPECT_EQ(r.exitCode, 0);
  // The datetime arrives typed: tsql writes it in its own form.
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("M20Trm\tM20Dat\tn\nTERM01\t[A-Z][a-z][a-z] [ 0-9][0-9] [0-9]{4} "
                        "[0-9][0-9]:[0-9][0-9][AP]M\t1\n")))
      << r.out;
  EXPECT_THAT(r.out, HasSubstr("zero\n0\n"));
  EXPECT_THAT(r.out, HasSubstr("one\n1\n"));
  EXPECT_THAT(r.out, HasSubstr("Msg 2627 (severity 14, state 1)"));
  EXPECT_THAT(r.out, HasSubstr("M20Ofb\n1701\n"));
  EXPECT_THAT(r.out, HasSubstr("second\n2\n"));
  EXPECT_EQ(db_->Query("SELECT M20Ofb FROM QVSYSTEM.MGSST20P"),
            std::vector<e2e::Row>{e2e::Row{"1701"}});
}

TEST_F(TdsClients, IsqlWithoutE) {
  REQUIRE(Have("isql"), "unixODBC's isql (Debian package unixodbc)");
  std::string in = db_->root + "/isql-input.txt";
  std::ofstream(in)
      << "SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P GROUP BY M20Trm, M20Dat\n"
         "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1' WHERE M20Trm = 'NOSUCH'\n"
         "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1701' WHERE M20Trm = 'TERM01'\n"
         "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) "
         "VALUES ('TERM01', 'A', '1', '12345', '0800')\n"
         "BEGIN TRAN\nUPDATE QVSYSTEM.MGSST20P SET M20Ofb = '9999'\nROLLBACK TRAN\n"
         "SELECT M20Ofb FROM QVSYSTEM.MGSST20P\nhelp\n";
  std::string cmd = "isql -b -v KRANZELDB kranzel geheim";
  e2e::RunResult r =
      db_->RunCommand({"sh", "-c",
                       "(sleep 1; echo 'SELECT 1') | " + cmd + " > second.txt 2>&1 & " + cmd +
                           " < " + in + " 2>&1; wait; cat second.txt"});
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("TERM01 +\\| *[0-9]{4}-[0-9][0-9]-[0-9][0-9] [0-9:.]+\\| *1 *\\|")))
      << r.out;
  EXPECT_THAT(r.out, HasSubstr("SQLRowCount returns 0\n"));
  EXPECT_THAT(r.out, HasSubstr("SQLRowCount returns 1\n"));
  EXPECT_THAT(r.out, HasSubstr("Violation of PRIMARY KEY constraint 'PK_MGSST20P'"));
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\\| 1701 *\\|"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\\| 1 *\\|\n")))
      << r.out;  // the second session's SELECT 1
  // isql's help lists the tables (SQLTables: sp_tables).
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\\| QVSYSTEM +\\| MGSST20P +\\| TABLE +\\|")))
      << r.out;
  std::vector<std::string> journal = db_->TakeJournal();
  EXPECT_THAT(journal, ::testing::Contains(HasSubstr("EXEC sp_prepexec")));
}

TEST_F(TdsClients, Pymssql) {
  REQUIRE(std::system("/usr/bin/python3 -c 'import pymssql' > /dev/null 2>&1") == 0,
          "pymssql (Debian package python3-pymssql)");
  RunScript({"/usr/bin/python3", Script("pymssql_client.py")});
}

TEST_F(TdsClients, PhpPdoDblib) {
  REQUIRE(std::system("php -m 2>/dev/null | grep -qx pdo_dblib") == 0,
          "PHP's pdo_dblib (Debian packages php8.2-cli php8.2-sybase)");
  RunScript({"php", Script("php_pdo_dblib_client.php")});
}

TEST_F(TdsClients, PhpOdbc) {
  REQUIRE(std::system("php -m 2>/dev/null | grep -qx odbc") == 0,
          "PHP's odbc (Debian packages php8.2-cli php8.2-odbc)");
  // PHP's default static cursor: FreeTDS runs every statement through a
  // server cursor.
  RunScript({"php", Script("php_odbc_client.php")});
  EXPECT_THAT(db_->TakeJournal(), ::testing::Contains(HasSubstr("EXEC sp_cursorfetch ")));
}

TEST_F(TdsClients, DbdSybaseWithPlaceholders) {
  REQUIRE(std::system("perl -MDBD::Sybase -e 1 > /dev/null 2>&1") == 0,
          "Perl's DBD::Sybase (Debian package libdbd-sybase-perl)");
  RunScript({"perl", Script("dbd_sybase_client.pl")});
  EXPECT_THAT(db_->TakeJournal(), ::testing::Contains(HasSubstr("EXEC sp_execute 1, 'TERM01'")));
}

TEST_F(TdsClients, Tedious) {
  std::string modules = KRANZEL_NODE_CLIENTS;
  REQUIRE(Have("node") && std::ifstream(modules + "/tedious/package.json").good(),
          "Node's tedious in " + modules + " (npm install tedious@19.0.0 there)");
  RunScript({"node", Script("tedious_client.js")}, {{"NODE_PATH", modules}});
  EXPECT_THAT(
      db_->TakeJournal(),
      ::testing::Contains(
          "EXEC sp_executesql @statement = N'UPDATE QVSYSTEM.MGSST20P SET M20Ofb = @ofb WHERE "
          "M20Trm = @trm', @params = N'@ofb varchar(1), @trm nvarchar(6)', @ofb = '1', "
          "@trm = N'NOSUCH'"));
}

}  // namespace
