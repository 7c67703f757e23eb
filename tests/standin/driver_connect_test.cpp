// Connecting to the stand-in through the unixODBC driver manager: the
// login check against the DSN's User and Password, SQLDriverConnect with a
// DSN or the driver's path, and the DSN attributes that are wrong.
#include <gtest/gtest.h>

#include "standin/driver_test_util.h"

namespace standin_test {
namespace {

TEST(DriverConnect, ExpectedCredentialsConnect) {
  TestDsn dsn;
  Connection conn;
  EXPECT_EQ(conn.Connect(dsn.dsn, "kranzel", "geheim"), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, conn.dbc).message;
  EXPECT_EQ(Query(conn.dbc, "SELECT 1"), (std::vector<Row>{{"1"}}));
}

TEST(DriverConnect, WrongPasswordFailsAsSqlServerLogin18456) {
  TestDsn dsn;
  Connection conn;
  EXPECT_EQ(conn.Connect(dsn.dsn, "kranzel", "Geheim"), SQL_ERROR);
  Diag d = FirstDiag(SQL_HANDLE_DBC, conn.dbc);
  EXPECT_EQ(d.sqlstate, "28000");
  EXPECT_EQ(d.native, 18456);
  EXPECT_EQ(d.message, "[unixODBC][KranzelStandin][SQL Server]Login failed for user 'kranzel'.");
}

TEST(DriverConnect, WrongOrEmptyUserFailsLogin) {
  TestDsn dsn;
  Connection wrong;
  EXPECT_EQ(wrong.Connect(dsn.dsn, "admin", "geheim"), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, wrong.dbc).native, 18456);
  EXPECT_NE(FirstDiag(SQL_HANDLE_DBC, wrong.dbc).message.find("Login failed for user 'admin'."), std::string::npos);
  Connection empty;
  EXPECT_EQ(empty.Connect(dsn.dsn, "", ""), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, empty.dbc).native, 18456);
}

TEST(DriverConnect, LoginNameIgnoresCaseLikeSqlServerButPasswordDoesNot) {
  TestDsn dsn;
  Connection upper;
  EXPECT_EQ(upper.Connect(dsn.dsn, "KRANZEL", "geheim"), SQL_SUCCESS);
  Connection password;
  EXPECT_EQ(password.Connect(dsn.dsn, "kranzel", "GEHEIM"), SQL_ERROR);
}

TEST(DriverConnect, DsnWithoutCredentialsAcceptsAnyLogin) {
  TestDsn dsn({}, false);
  Connection conn;
  EXPECT_EQ(conn.Connect(dsn.dsn, "whoever", "whatever"), SQL_SUCCESS);
}

TEST(DriverConnect, MissingDatabaseFileFailsWithCannotOpenDatabase) {
  TestDsn dsn;
  dsn.SetAttributes({{"Database", dsn.dir + "/missing.sqlite"}});
  Connection conn;
  EXPECT_EQ(conn.Connect(dsn.dsn), SQL_ERROR);
  Diag d = FirstDiag(SQL_HANDLE_DBC, conn.dbc);
  EXPECT_EQ(d.native, 4060);
  EXPECT_NE(d.message.find("Cannot open database"), std::string::npos) << d.message;
}

TEST(DriverConnect, DsnWithoutDatabaseOrWithUnknownRowCountModeIsRefused) {
  TestDsn dsn;
  dsn.SetAttributes({{"Database", ""}});
  Connection noDatabase;
  EXPECT_EQ(noDatabase.Connect(dsn.dsn), SQL_ERROR);
  EXPECT_NE(FirstDiag(SQL_HANDLE_DBC, noDatabase.dbc).message.find("names no Database"), std::string::npos);

  dsn.SetAttributes({{"Database", dsn.dbPath}, {"NoRowCountMode", "sybase"}});
  Connection badMode;
  EXPECT_EQ(badMode.Connect(dsn.dsn), SQL_ERROR);
  EXPECT_NE(FirstDiag(SQL_HANDLE_DBC, badMode.dbc).message.find("NoRowCountMode"), std::string::npos);
}

TEST(DriverConnect, DriverConnectByDsnTakesOverridesFromTheString) {
  TestDsn dsn;
  Connection conn;
  EXPECT_EQ(conn.DriverConnect("DSN=" + dsn.dsn + ";UID=kranzel;PWD=geheim;NoRowCountMode=freetds"), SQL_SUCCESS)
      << FirstDiag(SQL_HANDLE_DBC, conn.dbc).message;
  Statement st(conn.dbc);
  EXPECT_EQ(st.Exec("DELETE FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS) << "freetds mode from the string";
  Connection wrong;
  EXPECT_EQ(wrong.DriverConnect("DSN=" + dsn.dsn + ";UID=kranzel;PWD=nein"), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, wrong.dbc).native, 18456);
}

TEST(DriverConnect, DriverConnectByLibraryPathNeedsNoIniEntry) {
  TestDsn dsn;
  Connection conn;
  std::string cs =
      std::string("DRIVER={") + STANDIN_LIB + "};Database={" + dsn.dbPath + "};User=u;Password={p;w};UID=u;PWD={p;w}";
  EXPECT_EQ(conn.DriverConnect(cs), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, conn.dbc).message;
  EXPECT_EQ(Query(conn.dbc, "SELECT 2"), (std::vector<Row>{{"2"}}));
}

TEST(DriverConnect, ReconnectAfterDisconnectOnSameHandleWorks) {
  TestDsn dsn;
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  Statement open(conn.dbc);
  ASSERT_EQ(open.Exec("SELECT 1"), SQL_SUCCESS);
  open.h = SQL_NULL_HSTMT;  // left to the disconnect to free
  conn.Disconnect();
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  EXPECT_EQ(Query(conn.dbc, "SELECT 3"), (std::vector<Row>{{"3"}}));
}

TEST(DriverConnect, GetInfoAndGetFunctionsAnswerWhatClientsAsk) {
  TestDsn dsn;
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS);
  char text[64];
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetInfo(conn.dbc, SQL_DBMS_NAME, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "Microsoft SQL Server");
  ASSERT_EQ(SQLGetInfo(conn.dbc, SQL_DATA_SOURCE_NAME, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_EQ(std::string(text), dsn.dsn);
  char tiny[4];
  EXPECT_EQ(SQLGetInfo(conn.dbc, SQL_DBMS_NAME, tiny, sizeof tiny, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(tiny, "Mic");
  SQLUSMALLINT supported = SQL_FALSE;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetFunctions(conn.dbc, SQL_API_SQLGETDATA, &supported)));
  EXPECT_EQ(supported, SQL_TRUE);
  SQLUINTEGER autocommit = 0;
  ASSERT_EQ(SQLGetConnectAttr(conn.dbc, SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(autocommit, static_cast<SQLUINTEGER>(SQL_AUTOCOMMIT_ON));
}

}  // namespace
}  // namespace standin_test
