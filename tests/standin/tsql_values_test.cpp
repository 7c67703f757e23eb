// Comparisons and conversions as SQL Server does them: the default
// collation (case, trailing blanks), CONVERT styles with char(n) padding,
// datetime input forms and rounding, '+' on texts and numbers, the text
// functions, and the datetime mark the sweeps look for.
#include <gtest/gtest.h>

#include "tsql_test_util.h"
#include "tsql_values.h"

namespace {

using tsqltest::Db;
using tsqltest::Row;

TEST(TsqlCollation, TextsCompareWithoutCaseAndTrailingBlanks) {
  EXPECT_EQ(tsql::CompareText("abc", "ABC   "), 0);
  EXPECT_EQ(tsql::CompareText("äöü", "ÄÖÜ"), 0);
  EXPECT_NE(tsql::CompareText(" abc", "abc"), 0);
  EXPECT_NE(tsql::CompareText("abc\t", "abc"), 0);  // only blanks are ignored
  EXPECT_LT(tsql::CompareText("abc", "abd"), 0);
  EXPECT_LT(tsql::CompareText("ab", "abc"), 0);
  EXPECT_LT(tsql::CompareText("a", "B"), 0);
  // Windows-1252 text as a file of the upstream system may carry it.
  EXPECT_EQ(tsql::CompareText("M\xfcller", "M\xdcLLER"), 0);
  EXPECT_NE(tsql::CompareText("M\xfcller", "Muller"), 0);
  EXPECT_EQ(tsql::UpperText("m\xfcller \xc3\xa4"), "M\xdcLLER \xc3\x84");
  EXPECT_EQ(tsql::LowerText("M\xdcLLER \xc3\x84"), "m\xfcller \xc3\xa4");

  Db db;
  EXPECT_EQ(db.Rows("SELECT 1 WHERE 'abc' = 'ABC  '"), (std::vector<Row>{{"1"}}));
  EXPECT_TRUE(db.Rows("SELECT 1 WHERE 'abc' <> 'ABC  '").empty());
  EXPECT_EQ(db.Rows("SELECT 1 WHERE 'x' IN ('a', 'X ')"), (std::vector<Row>{{"1"}}));
  EXPECT_EQ(db.Rows("SELECT 1 WHERE NULLIF('  ', '') IS NULL"), (std::vector<Row>{{"1"}}));
}

TEST(TsqlCollation, ConvertResultComparesWithCollation) {
  Db db;
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.MGSSTFCD (FCDLIZ, FCDMND, FCDNUM, FCDDAT) VALUES ('L', 'M', '1', "
                      "CONVERT(datetime, '19000101', 112))")
                  .ok);
  // char(11) pads '19000101' with three blanks; the comparison ignores them.
  EXPECT_EQ(db.Value("SELECT CONVERT(char(11), FCDDAT, 112) + '|' FROM QVSYSTEM.MGSSTFCD"), "19000101   |");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM QVSYSTEM.MGSSTFCD WHERE CONVERT(char(11), FCDDAT, 112) = '19000101'"), "1");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM QVSYSTEM.MGSSTFCD WHERE FCDDAT = CONVERT(datetime, '19000101', 112)"), "1");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM QVSYSTEM.MGSSTFCD WHERE FCDDAT = '1900-01-01'"), "1");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM QVSYSTEM.MGSSTFCD WHERE FCDDAT < GETDATE()"), "1");
}

TEST(TsqlConvert, DatetimeToTextInEveryStyleTheToolUses) {
  Db db;
  const std::string dt = "CONVERT(datetime, '20240305 14:07:09.123', 120)";
  EXPECT_EQ(db.Value("SELECT CONVERT(char(11), " + dt + ", 104) + '|'"), "05.03.2024 |");
  EXPECT_EQ(db.Value("SELECT CONVERT(char(8), " + dt + ", 114)"), "14:07:09");
  EXPECT_EQ(db.Value("SELECT CONVERT(varchar(12), " + dt + ", 114)"), "14:07:09:123");
  EXPECT_EQ(db.Value("SELECT CONVERT(char(11), " + dt + ", 112) + '|'"), "20240305   |");
  EXPECT_EQ(db.Value("SELECT convert(VARCHAR(19), " + dt + ", 120)"), "2024-03-05 14:07:09");
  EXPECT_EQ(db.Value("SELECT CONVERT(varchar(5), " + dt + ", 112)"), "20240");
  EXPECT_EQ(db.Value("SELECT CONVERT(varchar, " + dt + ", 121)"), "2024-03-05 14:07:09.123");
  EXPECT_EQ(db.Value("SELECT CONVERT(varchar, " + dt + ")"), "Mar  5 2024  2:07PM");
  EXPECT_EQ(db.Value("SELECT Convert(Char(10), " + dt + ", 103)"), "05/03/2024");
  EXPECT_EQ(db.Value("SELECT CONVERT(char(11), NULL, 104)"), "<NULL>");
}

TEST(TsqlConvert, TextToDatetimeAcceptsTheFormsSqlServerTakes) {
  Db db;
  auto dt = [&](const std::string& text, int style) {
    return db.Value("SELECT CONVERT(datetime, '" + text + "', " + std::to_string(style) + ")");
  };
  EXPECT_EQ(dt("19000101", 112), "1900-01-01 00:00:00.000");
  EXPECT_EQ(dt("20240131 13:45:59", 120), "2024-01-31 13:45:59.000");  // the IDN and MND form
  EXPECT_EQ(dt("2024-01-31 13:45:59", 120), "2024-01-31 13:45:59.000");
  EXPECT_EQ(dt("2024-01-31T13:45:59.5", 126), "2024-01-31 13:45:59.500");
  EXPECT_EQ(dt("31.01.2024", 104), "2024-01-31 00:00:00.000");
  EXPECT_EQ(dt("  20240131  ", 112), "2024-01-31 00:00:00.000");
  EXPECT_EQ(dt("", 112), "1900-01-01 00:00:00.000");  // SQL Server's value for ''
  EXPECT_EQ(dt("20000229", 112), "2000-02-29 00:00:00.000");
  EXPECT_EQ(dt("10:30", 120), "1900-01-01 10:30:00.000");
  EXPECT_EQ(db.Value("SELECT convert(datetime,NULLIF('',''),120)"), "<NULL>");
  EXPECT_EQ(db.Value("SELECT CONVERT(datetime, NULL, 112)"), "<NULL>");
}

TEST(TsqlConvert, DatetimeKeepsSqlServerPrecisionOfThreeHundredthsOfASecond) {
  Db db;
  EXPECT_EQ(db.Value("SELECT CONVERT(datetime, '20240131 10:00:00.002', 121)"), "2024-01-31 10:00:00.003");
  EXPECT_EQ(db.Value("SELECT CONVERT(datetime, '20240131 10:00:00.005', 121)"), "2024-01-31 10:00:00.007");
  EXPECT_EQ(db.Value("SELECT CONVERT(datetime, '20241231 23:59:59.999', 121)"), "2025-01-01 00:00:00.000");
  tsql::DateTime d;
  d.year = 9999;
  d.month = 12;
  d.day = 31;
  d.hour = 23;
  d.minute = 59;
  d.second = 59;
  d.millis = 999;
  EXPECT_FALSE(tsql::RoundToTicks(d));  // past the last datetime
  std::string ms = db.Value("SELECT CONVERT(varchar(12), GETDATE(), 114)").substr(9);
  EXPECT_TRUE(ms.back() == '0' || ms.back() == '3' || ms.back() == '7') << ms;
}

TEST(TsqlConvert, UnitParseAndFormatEdges) {
  tsql::DateTime d;
  tsql::Error err;
  EXPECT_FALSE(tsql::ParseDateTime("19000229", 112, d, err));  // 1900 is no leap year
  EXPECT_EQ(err.native, 242);
  EXPECT_FALSE(tsql::ParseDateTime("2024-1-", 120, d, err));
  EXPECT_EQ(err.native, 241);
  EXPECT_FALSE(tsql::ParseDateTime("20240101 12:00 XM", 120, d, err));
  EXPECT_EQ(err.native, 241);
  ASSERT_TRUE(tsql::ParseDateTime("20240101 12:30 AM", 120, d, err));
  EXPECT_EQ(tsql::Canonical(d), "2024-01-01 00:30:00.000");
  ASSERT_TRUE(tsql::ParseDateTime("490101", 12, d, err));
  EXPECT_EQ(d.year, 2049);
  ASSERT_TRUE(tsql::ParseDateTime("500101", 12, d, err));
  EXPECT_EQ(d.year, 1950);
  std::string out;
  ASSERT_TRUE(tsql::ParseDateTime("17530101", 112, d, err));
  ASSERT_TRUE(tsql::FormatDateTime(d, 126, out, err));
  EXPECT_EQ(out, "1753-01-01T00:00:00");
  EXPECT_FALSE(tsql::FormatDateTime(d, 15, out, err));
  EXPECT_EQ(err.native, 281);
}

TEST(TsqlExpressions, PlusJoinsTextsAndAddsNumbers) {
  Db db;
  EXPECT_EQ(db.Rows("SELECT 'a' + 'b', '5' + 1, 1 + 2, 'x' + NULL"), (std::vector<Row>{{"ab", "6", "3", "<NULL>"}}));
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta) VALUES ('12', '3')").ok);
  EXPECT_EQ(db.Value("SELECT StoNum + StoSta FROM QVSYSTEM.QVS113STO"), "123");
  tsqltest::Result r = db.Exec("SELECT 'a' + 1");
  EXPECT_EQ(r.error.native, 245);
}

TEST(TsqlExpressions, TextFunctionsFollowSqlServer) {
  Db db;
  EXPECT_EQ(
      db.Rows("SELECT LEN('ab  '), LEN('  ab'), RTRIM('  ab  ') + '|', LTRIM('  ab  ') + '|', UPPER('straße äb'), "
              "lower('ÄB')"),
      (std::vector<Row>{{"2", "4", "  ab|", "ab  |", "STRAßE ÄB", "äb"}}));
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoErf) VALUES ('1', 'QvImport  ')").ok);
  EXPECT_EQ(db.Rows("SELECT LEN(StoErf), RTRIM(StoErf) + '|', SUBSTRING(StoErf, 0, 3), LEFT(StoErf, 2), "
                    "RIGHT(RTRIM(StoErf), 3), ISNULL(StoSta, 'n') FROM QVSYSTEM.QVS113STO"),
            (std::vector<Row>{{"8", "QvImport|", "Qv", "Qv", "ort", "n"}}));
}

TEST(TsqlExpressions, CurrentTimestampIsOneInstantPerStatement) {
  Db db;
  std::vector<Row> rows = db.Rows("SELECT GETDATE(), CURRENT_TIMESTAMP, CONVERT(varchar(23), GETDATE(), 121)");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], rows[0][1]);
  EXPECT_EQ(rows[0][0], rows[0][2]);
}

TEST(TsqlExpressions, CharColumnsArePaddedAndCompareIgnoringThePadding) {
  Db db;
  tsql::Error err;
  ASSERT_TRUE(db.Script("CREATE TABLE dbo.T (C char(5) NOT NULL PRIMARY KEY, N int NULL)", err)) << err.message;
  ASSERT_TRUE(db.Exec("INSERT INTO T (C, N) VALUES ('ab', 1)").ok);
  EXPECT_EQ(db.Value("SELECT C + '|' FROM T WHERE C = 'AB'"), "ab   |");
  EXPECT_EQ(db.Exec("INSERT INTO T (C, N) VALUES ('AB ', 2)").error.native, 2627);
  EXPECT_EQ(db.Value("SELECT N FROM T WHERE N = '1'"), "1");
}

}  // namespace
