// The stand-in driver's statement answers through the unixODBC driver
// manager: SQL_NO_DATA versus FreeTDS's success with row count 0, row
// counts, result sets read through SQLBindCol and SQLGetData, column
// descriptions, diagnostics and the journal.
#include <gtest/gtest.h>

#include <cstring>

#include "standin/driver_test_util.h"

namespace standin_test {
namespace {

const char* const kMark = "UPDATE QvSystem.MGSST20P SET    M20Dat = CONVERT(datetime, '19000101', 112) ";
const char* const kSweep = "DELETE FROM Qvsystem.MGSST20P WHERE M20DAT = CONVERT(datetime, '19000101', 112) ";
const char* const kTimestamp =
    "SELECT ( CONVERT(char(11), CURRENT_TIMESTAMP, 104) +          CONVERT(char(8), CURRENT_TIMESTAMP, 114)) ";

std::string Update20P(const std::string& trm, const std::string& ofb) {
  return "UPDATE QvSystem.MGSST20P SET    M20Ofb = '" + ofb + "', M20Dat = CURRENT_TIMESTAMP WHERE  M20Trm = '" + trm +
         "' AND    M20Sch = '01' AND    M20Tg1 = '1' AND    M20Zz2 = '00001' AND    M20Ofv = '0800' ";
}

std::string Insert20P(const std::string& trm, const std::string& ofb) {
  return "INSERT INTO QvSystem.MGSST20P    (M20Trm, M20Sch, M20Tg1,     M20Zz2, M20Ofv, M20Ofb,     M20Dat)  "
         "VALUES ('" +
         trm + "', '01', '1',          '00001', '0800', '" + ofb + "',           CURRENT_TIMESTAMP)";
}

// True when `text` has the shape of `pattern`, in which 'd' stands for a
// digit and every other character for itself.
bool MatchesShape(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

class DriverExec : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, conn.dbc).message;
  }
  TestDsn dsn;
  Connection conn;
};

TEST_F(DriverExec, ZeroRowUpdateAndDeleteReturnNoDataUnderOdbc3) {
  Statement update(conn.dbc);
  EXPECT_EQ(update.Exec(Update20P("T1", "0900")), SQL_NO_DATA);
  Statement mark(conn.dbc);
  EXPECT_EQ(mark.Exec(kMark), SQL_NO_DATA) << "a mark of an empty table";
  Statement sweep(conn.dbc);
  EXPECT_EQ(sweep.Exec(kSweep), SQL_NO_DATA);
  Statement del(conn.dbc);
  EXPECT_EQ(del.Exec("DELETE FROM QVSYSTEM.MGSST20P"), SQL_NO_DATA);
}

TEST_F(DriverExec, UpsertStreamUpdatesExistingRowAndInsertsNewOne) {
  Statement insert(conn.dbc);
  ASSERT_EQ(insert.Exec(Insert20P("T1", "0900")), SQL_SUCCESS) << insert.FirstDiag().message;
  EXPECT_EQ(insert.RowCount(), 1);

  Statement update(conn.dbc);
  EXPECT_EQ(update.Exec(Update20P("T1", "1000")), SQL_SUCCESS) << update.FirstDiag().message;
  EXPECT_EQ(update.RowCount(), 1);
  Statement missing(conn.dbc);
  EXPECT_EQ(missing.Exec(Update20P("T2", "1100")), SQL_NO_DATA);

  auto rows = Query(conn.dbc, "SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P ORDER BY M20Trm");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (Row{"T1", "1000"}));
}

TEST_F(DriverExec, RowCountGivesRowsTouchedAndMinusOneForQueries) {
  for (const char* trm : {"A", "B", "C"}) {
    Statement insert(conn.dbc);
    ASSERT_EQ(insert.Exec(Insert20P(trm, "0900")), SQL_SUCCESS) << insert.FirstDiag().message;
  }
  Statement mark(conn.dbc);
  ASSERT_EQ(mark.Exec(kMark), SQL_SUCCESS) << mark.FirstDiag().message;
  EXPECT_EQ(mark.RowCount(), 3);
  Statement select(conn.dbc);
  ASSERT_EQ(select.Exec("SELECT M20Trm FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS);
  EXPECT_EQ(select.RowCount(), -1);
  Statement sweep(conn.dbc);
  ASSERT_EQ(sweep.Exec(kSweep), SQL_SUCCESS) << sweep.FirstDiag().message;
  EXPECT_EQ(sweep.RowCount(), 3);
  // The row count survives the calls that follow the execution.
  SQLSMALLINT columns = -1;
  EXPECT_EQ(SQLNumResultCols(sweep.h, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 0);
  EXPECT_EQ(sweep.RowCount(), 3);
}

TEST_F(DriverExec, OdbcTwoEnvironmentGetsSuccessForZeroRowUpdate) {
  Connection odbc2(SQL_OV_ODBC2);
  ASSERT_TRUE(SQL_SUCCEEDED(odbc2.Connect(dsn.dsn)));
  Statement update(odbc2.dbc);
  EXPECT_EQ(update.Exec(Update20P("T1", "0900")), SQL_SUCCESS);
  EXPECT_EQ(update.RowCount(), 0);
}

TEST(DriverExecFreetds, ZeroRowUpdateAndDeleteSucceedWithRowCountZero) {
  TestDsn dsn(Attributes{{"NoRowCountMode", "freetds"}});
  Connection conn;
  ASSERT_EQ(conn.Connect(dsn.dsn), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, conn.dbc).message;
  Statement update(conn.dbc);
  EXPECT_EQ(update.Exec(Update20P("T1", "0900")), SQL_SUCCESS);
  EXPECT_EQ(update.RowCount(), 0);
  Statement mark(conn.dbc);
  EXPECT_EQ(mark.Exec(kMark), SQL_SUCCESS);
  EXPECT_EQ(mark.RowCount(), 0);
  Statement sweep(conn.dbc);
  EXPECT_EQ(sweep.Exec(kSweep), SQL_SUCCESS);
  EXPECT_EQ(sweep.RowCount(), 0);
  // A touching update still counts its rows.
  Statement insert(conn.dbc);
  ASSERT_EQ(insert.Exec(Insert20P("T1", "0900")), SQL_SUCCESS);
  Statement again(conn.dbc);
  EXPECT_EQ(again.Exec(Update20P("T1", "1000")), SQL_SUCCESS);
  EXPECT_EQ(again.RowCount(), 1);
}

// The tool's server-timestamp query, read the way the tool reads it: column
// 1 bound as SQL_C_CHAR into 20 bytes, one fetch.
TEST_F(DriverExec, TimestampQueryFillsTwentyByteBufferThroughBindCol) {
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec(kTimestamp), SQL_SUCCESS) << st.FirstDiag().message;
  char buf[20];
  std::memset(buf, 'x', sizeof buf);
  SQLLEN ind = 0;
  SQLBindCol(st.h, 1, SQL_C_CHAR, buf, 20, &ind);
  EXPECT_EQ(SQLFetch(st.h), SQL_SUCCESS) << st.FirstDiag().message;
  EXPECT_EQ(ind, 19);
  EXPECT_EQ(buf[19], '\0');
  EXPECT_TRUE(MatchesShape(buf, "dd.dd.dddd dd:dd:dd")) << buf;
  EXPECT_EQ(SQLFetch(st.h), SQL_NO_DATA);
}

TEST_F(DriverExec, BoundValueTooLongIsCutTerminatedWithWarning01004) {
  Statement insert(conn.dbc);
  ASSERT_EQ(insert.Exec(Insert20P("TERMINAL-WITH-A-LONG-NAME", "0900")), SQL_SUCCESS);
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS);
  char trm[9];
  char ofb[5];
  SQLLEN trmInd = 0, ofbInd = 0;
  SQLBindCol(st.h, 1, SQL_C_CHAR, trm, sizeof trm, &trmInd);
  SQLBindCol(st.h, 2, SQL_C_CHAR, ofb, sizeof ofb, &ofbInd);
  ASSERT_EQ(SQLFetch(st.h), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(st.FirstDiag().sqlstate, "01004");
  EXPECT_STREQ(trm, "TERMINAL");
  EXPECT_EQ(trmInd, 25);
  EXPECT_STREQ(ofb, "0900");
  EXPECT_EQ(ofbInd, 4);
}

TEST_F(DriverExec, GetDataReturnsLongTextInPiecesThenNoData) {
  Statement insert(conn.dbc);
  ASSERT_EQ(insert.Exec(Insert20P("ABCDEFGHIJ", "0900")), SQL_SUCCESS);
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec("SELECT M20Trm FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(st.h), SQL_SUCCESS);
  char buf[5];
  SQLLEN ind = 0;
  // Asking for the length alone consumes nothing.
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_CHAR, buf, 0, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(ind, 10);
  std::string all;
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(ind, 10);
  all += buf;
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(ind, 6);
  all += buf;
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
  EXPECT_EQ(ind, 2);
  all += buf;
  EXPECT_EQ(all, "ABCDEFGHIJ");
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
}

TEST_F(DriverExec, GetDataConvertsNumbersNullsAndWideText) {
  Statement insert(conn.dbc);
  ASSERT_EQ(
      insert.Exec(
          "INSERT INTO QVSYSTEM.Qvs120Kid (KidKst, KidMnd, KidLiz, KidNum, KidSta) VALUES ('K', 'M', 'L', '42', 7)"),
      SQL_SUCCESS)
      << insert.FirstDiag().message;
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec("SELECT KidSta, KidNum, KidNum, KidTxt, KidTxt FROM QVSYSTEM.Qvs120Kid"), SQL_SUCCESS)
      << st.FirstDiag().message;
  ASSERT_EQ(SQLFetch(st.h), SQL_SUCCESS);
  SQLINTEGER number = 0;
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_SLONG, &number, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(number, 7);
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_SLONG, &number, 0, &ind), SQL_NO_DATA) << "a column is read once";
  double d = 0;
  EXPECT_EQ(SQLGetData(st.h, 2, SQL_C_DOUBLE, &d, 0, &ind), SQL_SUCCESS) << "a numeric text converts";
  EXPECT_EQ(d, 42.0);
  SQLWCHAR wide[8];
  EXPECT_EQ(SQLGetData(st.h, 3, SQL_C_WCHAR, wide, sizeof wide, &ind), SQL_SUCCESS);
  EXPECT_EQ(ind, 4);
  EXPECT_EQ(wide[0], u'4');
  EXPECT_EQ(wide[2], 0);
  char text[8];
  EXPECT_EQ(SQLGetData(st.h, 4, SQL_C_CHAR, text, sizeof text, &ind), SQL_SUCCESS);
  EXPECT_EQ(ind, SQL_NULL_DATA);
  EXPECT_EQ(SQLGetData(st.h, 5, SQL_C_CHAR, text, sizeof text, nullptr), SQL_ERROR) << "NULL needs an indicator";
  EXPECT_EQ(st.FirstDiag().sqlstate, "22002");
  EXPECT_EQ(SQLGetData(st.h, 6, SQL_C_CHAR, text, sizeof text, &ind), SQL_ERROR);
  EXPECT_EQ(st.FirstDiag().sqlstate, "07009");
}

TEST_F(DriverExec, NonNumericTextIntoIntegerTypeFails22018) {
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec("SELECT 'abc'"), SQL_SUCCESS) << st.FirstDiag().message;
  ASSERT_EQ(SQLFetch(st.h), SQL_SUCCESS);
  SQLINTEGER number = 0;
  SQLLEN ind = 0;
  EXPECT_EQ(SQLGetData(st.h, 1, SQL_C_SLONG, &number, 0, &ind), SQL_ERROR);
  EXPECT_EQ(st.FirstDiag().sqlstate, "22018");
}

TEST_F(DriverExec, DescribeColTellsNameTypeAndSizeOfTableColumns) {
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec("SELECT M20Ofb, M20Dat FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS) << st.FirstDiag().message;
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQLNumResultCols(st.h, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  SQLCHAR name[64];
  SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeCol(st.h, 1, name, sizeof name, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "M20Ofb");
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(nullable, SQL_NULLABLE);
  ASSERT_EQ(SQLDescribeCol(st.h, 2, name, sizeof name, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_TYPE_TIMESTAMP);
  SQLLEN display = 0;
  ASSERT_EQ(SQLColAttribute(st.h, 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display), SQL_SUCCESS);
  EXPECT_EQ(display, 4);
  EXPECT_EQ(SQLFetch(st.h), SQL_NO_DATA) << "empty table";
}

TEST_F(DriverExec, ServerErrorCarriesNativeNumberSqlstateAndPrefixedMessage) {
  Statement st(conn.dbc);
  EXPECT_EQ(st.Exec("SELECT X FROM QVSYSTEM.NOSUCHTABLE"), SQL_ERROR);
  Diag d = st.FirstDiag();
  EXPECT_EQ(d.native, 208);
  EXPECT_EQ(d.sqlstate, "42S02");
  EXPECT_EQ(d.message.rfind("[KranzelStandin][SQL Server]Invalid object name '", 0), 0u) << d.message;
  // The next call on the handle starts with empty diagnostics.
  EXPECT_EQ(st.Exec("SELECT 1"), SQL_SUCCESS);
  EXPECT_EQ(DiagCount(SQL_HANDLE_STMT, st.h), 0);
}

TEST_F(DriverExec, DuplicateKeyInsertFails2627) {
  Statement first(conn.dbc);
  ASSERT_EQ(first.Exec(Insert20P("T1", "0900")), SQL_SUCCESS);
  Statement second(conn.dbc);
  EXPECT_EQ(second.Exec(Insert20P("T1", "0900")), SQL_ERROR);
  Diag d = second.FirstDiag();
  EXPECT_EQ(d.native, 2627) << d.message;
  EXPECT_EQ(d.sqlstate, "23000");
}

TEST_F(DriverExec, JournalRecordsEveryStatementTextExactlyInOrder) {
  Statement a(conn.dbc);
  a.Exec(kMark);
  Statement b(conn.dbc);
  b.Exec("SELECT nonsense FROM nowhere");  // fails, journaled all the same
  Statement c(conn.dbc);
  // A text passed with its length, not terminated where the length ends.
  std::string longer = "SELECT 1 -- tail not sent";
  SQLExecDirect(c.h, reinterpret_cast<SQLCHAR*>(longer.data()), 8);
  EXPECT_EQ(Slurp(dsn.journalPath), std::string(kMark) + "\nSELECT nonsense FROM nowhere\nSELECT 1\n");
}

TEST_F(DriverExec, PrepareAndExecuteRunTheStatementOnExecute) {
  Statement st(conn.dbc);
  ASSERT_EQ(SQLPrepare(st.h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kMark)), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(Slurp(dsn.journalPath), "") << "nothing runs on prepare";
  EXPECT_EQ(SQLExecute(st.h), SQL_NO_DATA);
  EXPECT_EQ(Slurp(dsn.journalPath), std::string(kMark) + "\n");
}

TEST_F(DriverExec, FetchWithoutResultSetIsInvalidCursorState) {
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec(Insert20P("T1", "0900")), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(st.h), SQL_ERROR);
  EXPECT_EQ(st.FirstDiag().sqlstate, "24000");
}

TEST_F(DriverExec, ClosedCursorReexecutesAndOpenResultsAreFreedWithTheirHandles) {
  for (int i = 0; i < 3; ++i) {
    Statement insert(conn.dbc);
    ASSERT_EQ(insert.Exec(Insert20P("T" + std::to_string(i), "0900")), SQL_SUCCESS);
  }
  Statement st(conn.dbc);
  ASSERT_EQ(st.Exec("SELECT M20Trm FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(st.h), SQL_SUCCESS);
  // A closed cursor lets the handle run the next statement.
  ASSERT_EQ(SQLFreeStmt(st.h, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(st.Exec("SELECT M20Trm FROM QVSYSTEM.MGSST20P ORDER BY M20Trm DESC"), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(st.h), SQL_SUCCESS);
  char buf[16];
  SQLLEN ind = 0;
  ASSERT_EQ(SQLGetData(st.h, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
  EXPECT_STREQ(buf, "T2");
  EXPECT_EQ(SQLCloseCursor(st.h), SQL_SUCCESS);
  EXPECT_EQ(SQLCloseCursor(st.h), SQL_ERROR) << "no cursor left to close";
  // A result left open is released with its handle, and a statement
  // handle left allocated is released by the disconnect.
  Statement open(conn.dbc);
  ASSERT_EQ(open.Exec("SELECT M20Trm FROM QVSYSTEM.MGSST20P"), SQL_SUCCESS);
  SQLHSTMT leftOver = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &leftOver), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(leftOver, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT 1")), SQL_NTS), SQL_SUCCESS);
}

}  // namespace
}  // namespace standin_test
