// Faults on purpose, through the control file a DSN names: refused
// connects, a failing statement-handle allocation, statements that fail
// with a chosen native error, and a connection dropped after N statements.
// Each test has its own control file, so its counters start at zero.
#include <gtest/gtest.h>

#include "standin/driver_test_util.h"

namespace standin_test {
namespace {

const char* const kMarkLike = "UPDATE QvSystem.MGSST20P SET    M20Ofb = '1' ";

TEST(DriverFaults, RefuseConnectNRefusesTheFirstNConnectsAsServerDown) {
  TestDsn dsn;
  dsn.SetControl("# server down for two attempts\nrefuse_connect 2\n");
  for (int attempt = 1; attempt <= 2; ++attempt) {
    Connection conn;
    EXPECT_EQ(conn.Connect(dsn.dsn), SQL_ERROR) << "attempt " << attempt;
    Diag d = FirstDiag(SQL_HANDLE_DBC, conn.dbc);
    EXPECT_EQ(d.sqlstate, "08001");
    EXPECT_EQ(d.native, 17);
    EXPECT_NE(d.message.find("SQL Server does not exist or access denied"), std::string::npos) << d.message;
  }
  // The driver manager unloads the driver after a failed connect; the
  // counters must outlive that.
  Connection third;
  EXPECT_EQ(third.Connect(dsn.dsn), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, third.dbc).message;
}

TEST(DriverFaults, RefuseConnectAllRefusesEveryConnect) {
  TestDsn dsn;
  dsn.SetControl("refuse_connect all\n");
  for (int attempt = 1; attempt <= 4; ++attempt) {
    Connection conn;
    EXPECT_EQ(conn.Connect(dsn.dsn), SQL_ERROR) << "attempt " << attempt;
    EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, conn.dbc).native, 17);
  }
}

TEST(DriverFaults, FailStmtAllocFailsOnlyTheKthAllocation) {
  TestDsn dsn;
  dsn.SetControl("fail_stmt_alloc 2\nfail_stmt_alloc 4\n");
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  std::vector<SQLRETURN> results;
  for (int k = 1; k <= 5; ++k) {
    Statement st(conn.dbc);
    results.push_back(st.allocResult);
    if (st.h != SQL_NULL_HSTMT) {
      EXPECT_EQ(st.Exec("SELECT 1"), SQL_SUCCESS);
    }
  }
  EXPECT_EQ(results, (std::vector<SQLRETURN>{SQL_SUCCESS, SQL_ERROR, SQL_SUCCESS, SQL_ERROR, SQL_SUCCESS}));
}

TEST(DriverFaults, FailStatementFailsFirstTimesMatchesWithNativeErrorWithoutTouchingData) {
  TestDsn dsn;
  dsn.SetControl("fail_statement 1205 2 SET    M20Ofb\n");
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  for (int k = 1; k <= 2; ++k) {
    Statement st(conn.dbc);
    EXPECT_EQ(st.Exec(kMarkLike), SQL_ERROR);
    Diag d = st.FirstDiag();
    EXPECT_EQ(d.native, 1205);
    EXPECT_EQ(d.sqlstate, "40001");
  }
  Statement other(conn.dbc);
  EXPECT_EQ(other.Exec("SELECT 1"), SQL_SUCCESS) << "a statement that does not match runs";
  Statement third(conn.dbc);
  EXPECT_EQ(third.Exec(kMarkLike), SQL_NO_DATA) << "the third match runs normally (empty table)";
  // All of them reached the journal, failed or not.
  EXPECT_EQ(Slurp(dsn.journalPath), std::string(kMarkLike) + "\n" + kMarkLike + "\nSELECT 1\n" + kMarkLike + "\n");
}

TEST(DriverFaults, FailStatementAlwaysAndFirstMatchingLineWins) {
  TestDsn dsn;
  dsn.SetControl("fail_statement 2627 always INSERT INTO\nfail_statement 515 always INTO\n");
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  for (int k = 1; k <= 3; ++k) {
    Statement st(conn.dbc);
    EXPECT_EQ(st.Exec("INSERT INTO QVSYSTEM.Qvs120Kid (KidKst, KidMnd, KidLiz) VALUES ('a', 'b', 'c')"), SQL_ERROR);
    EXPECT_EQ(st.FirstDiag().native, 2627);
    EXPECT_EQ(st.FirstDiag().sqlstate, "23000");
  }
  EXPECT_EQ(Query(conn.dbc, "SELECT KidKst FROM QVSYSTEM.Qvs120Kid").size(), 0u) << "nothing was inserted";
}

TEST(DriverFaults, FailStatementSubstringIsLiteralAndCaseSensitive) {
  TestDsn dsn;
  dsn.SetControl("fail_statement 102 always WHERE  M20Trm = 'A B'\n");
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  Statement match(conn.dbc);
  EXPECT_EQ(match.Exec("DELETE FROM QVSYSTEM.MGSST20P WHERE  M20Trm = 'A B'"), SQL_ERROR);
  EXPECT_EQ(match.FirstDiag().native, 102);
  Statement oneBlank(conn.dbc);
  EXPECT_EQ(oneBlank.Exec("DELETE FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'A B'"), SQL_NO_DATA);
  Statement lower(conn.dbc);
  EXPECT_EQ(lower.Exec("DELETE FROM QVSYSTEM.MGSST20P where  M20Trm = 'A B'"), SQL_NO_DATA);
}

TEST(DriverFaults, DropAfterNFailsLaterCallsWith08S01UntilReconnect) {
  TestDsn dsn;
  dsn.SetControl("drop_after 2\n");
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  {
    // The disconnect below frees every statement of the connection, so
    // these handles must be gone before it.
    Statement one(conn.dbc);
    EXPECT_EQ(one.Exec("SELECT 1"), SQL_SUCCESS);
    Statement failed(conn.dbc);
    EXPECT_EQ(failed.Exec("SELECT nothing FROM nowhere"), SQL_ERROR) << "a failure does not count";
    Statement two(conn.dbc);
    EXPECT_EQ(two.Exec(kMarkLike), SQL_NO_DATA) << "SQL_NO_DATA counts as executed";
    Statement three(conn.dbc);
    EXPECT_EQ(three.Exec("SELECT 1"), SQL_ERROR);
    Diag d = three.FirstDiag();
    EXPECT_EQ(d.sqlstate, "08S01");
    EXPECT_EQ(d.native, 10054);
    EXPECT_EQ(three.Exec("SELECT 1"), SQL_ERROR) << "stays dropped";
    Statement refused(conn.dbc);
    EXPECT_EQ(refused.allocResult, SQL_ERROR);
    EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, conn.dbc).sqlstate, "08S01");
  }

  conn.Disconnect();
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  for (int k = 0; k < 5; ++k) {
    Statement st(conn.dbc);
    EXPECT_EQ(st.Exec("SELECT 1"), SQL_SUCCESS) << "the new connection is not dropped again";
  }
}

TEST(DriverFaults, DropAfterZeroDropsBeforeTheFirstStatement) {
  TestDsn dsn;
  dsn.SetControl("drop_after 0\n");
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  Statement st(conn.dbc);
  EXPECT_EQ(st.Exec("SELECT 1"), SQL_ERROR);
  EXPECT_EQ(st.FirstDiag().native, 10054);
}

TEST(DriverFaults, MalformedControlFileRefusesConnectNamingTheLine) {
  TestDsn dsn;
  dsn.SetControl("refuse_connect 1\nfail_statment 102 always X\n");
  Connection conn;
  EXPECT_EQ(conn.Connect(dsn.dsn), SQL_ERROR);
  Diag d = FirstDiag(SQL_HANDLE_DBC, conn.dbc);
  EXPECT_NE(d.message.find("line 2"), std::string::npos) << d.message;
  EXPECT_NE(d.message.find("fail_statment"), std::string::npos) << d.message;
}

TEST(DriverFaults, MissingControlFileMeansNoFaults) {
  TestDsn dsn;
  dsn.SetAttributes({{"Control", dsn.dir + "/no-such-control"}});
  Connection conn;
  EXPECT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
}

}  // namespace
}  // namespace standin_test
