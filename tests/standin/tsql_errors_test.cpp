// The stand-in answers with SQL Server's native error numbers, SQLSTATEs
// and messages: unknown objects and columns, syntax, conversions, NULL into
// NOT NULL, duplicate keys (following the collation), too long texts.
#include <gtest/gtest.h>

#include "tsql_test_util.h"

namespace {

using tsqltest::Db;
using tsqltest::Result;

void ExpectError(const Db& db, const std::string& sql, int native, const std::string& sqlstate,
                 const std::string& message = std::string()) {
  Result r = db.Exec(sql);
  EXPECT_FALSE(r.ok) << sql;
  EXPECT_EQ(r.error.native, native) << sql << "\n-> " << r.error.message;
  EXPECT_EQ(r.error.sqlstate, sqlstate) << sql;
  if (!message.empty()) {
    EXPECT_EQ(r.error.message, message) << sql;
  }
}

TEST(TsqlErrors, UnknownTableIs208WithTheNameAsWritten) {
  Db db;
  ExpectError(db, "SELECT * FROM QVSYSTEM.MGSST99P", 208, "42S02", "Invalid object name 'QVSYSTEM.MGSST99P'.");
  ExpectError(db, "UPDATE [Other].[MGSST20P] SET M20Ofb = ''", 208, "42S02", "Invalid object name 'Other.MGSST20P'.");
  ExpectError(db, "DELETE FROM QVSYSTEM.Nope", 208, "42S02");
}

TEST(TsqlErrors, UnknownColumnIs207InEveryClause) {
  Db db;
  ExpectError(db, "SELECT M20Xyz FROM QVSYSTEM.MGSST20P", 207, "42S22", "Invalid column name 'M20Xyz'.");
  ExpectError(db, "UPDATE QVSYSTEM.MGSST20P SET M20Xyz = 'a'", 207, "42S22");
  ExpectError(db, "DELETE FROM QVSYSTEM.MGSST20P WHERE M20Xyz = 'a'", 207, "42S22");
  ExpectError(db, "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Xyz) VALUES ('a', 'b')", 207, "42S22");
}

TEST(TsqlErrors, MissingTswAmpColumnIs207SoTheShortInsertCanFollow) {
  Db db;
  ASSERT_TRUE(db.Exec("ALTER TABLE QVSYSTEM.O2002TSW DROP COLUMN TswAmp").ok);
  ExpectError(db, "INSERT INTO QVSYSTEM.O2002TSW (TswIdn, TswAmp) VALUES ('a', 'b')", 207, "42S22",
              "Invalid column name 'TswAmp'.");
  Result r = db.Exec("INSERT INTO QVSYSTEM.O2002TSW (TswIdn, TswSto) VALUES ('a', 'b')");
  EXPECT_TRUE(r.ok) << r.error.message;
}

TEST(TsqlErrors, UnparseableIs102NearTheOffendingToken) {
  Db db;
  ExpectError(db, "SELECT M20Trm FROM QVSYSTEM.MGSST20P WHERE", 102, "42000", "Incorrect syntax near 'WHERE'.");
  ExpectError(db, "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = 'a' 'b'", 102, "42000", "Incorrect syntax near 'b'.");
  ExpectError(db, "SELEKT 1", 102, "42000", "Incorrect syntax near 'SELEKT'.");
  ExpectError(db, "INSERT INTO QVSYSTEM.MGSST20P (M20Trm) VALUES ('a'", 102, "42000");
  // An apostrophe that was not doubled ends the literal early.
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES ('O'Neil')", 102, "42000",
              "Incorrect syntax near 'Neil'.");
  ExpectError(db, "SELECT 'abc", 105, "42000", "Unclosed quotation mark after the character string 'abc'.");
}

TEST(TsqlErrors, NonNumericTextIntoIntIs245NumericTextIsConverted) {
  Db db;
  const std::string insert = "INSERT INTO QVSYSTEM.Qvs301Awb (AwbAsw, AwbBkl, AwbLiz, AwbMnd, AwbZuv) VALUES ";
  ExpectError(db, insert + "('a', 'b', 'c', 'd', 'x')", 245, "22018",
              "Conversion failed when converting the varchar value 'x' to data type int.");
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.Qvs112Tmd (TMDLIZ, TMDNUM) VALUES ('L', 'N')").ok);
  ExpectError(db, "UPDATE QVSYSTEM.Qvs112Tmd SET TMDSTA = NULLIF('4a','')", 245, "22018");
  // As on SQL Server, a conversion is checked for the rows the statement
  // touches: none here.
  EXPECT_TRUE(db.Exec("UPDATE QVSYSTEM.Qvs112Tmd SET TMDSTA = 'x' WHERE TMDNUM = 'none'").ok);
  ASSERT_TRUE(db.Exec(insert + "('a', 'b', 'c', 'd', ' 5 ')").ok);
  ASSERT_TRUE(db.Exec(insert + "('e', 'b', 'c', 'd', '')").ok);
  EXPECT_EQ(db.Rows("SELECT AwbZuv FROM QVSYSTEM.Qvs301Awb ORDER BY AwbAsw"),
            (std::vector<tsqltest::Row>{{"5"}, {"0"}}));
  ExpectError(db, insert + "('f', 'b', 'c', 'd', '99999999999')", 248, "22003");
}

TEST(TsqlErrors, NullIntoNotNullIs515NamingColumnTableAndStatement) {
  Db db;
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta) VALUES (NULL, '1')", 515, "23000",
              "Cannot insert the value NULL into column 'StoNum', table 'QVSYSTEM.QVS113STO'; column does not allow "
              "nulls. INSERT fails.");
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoSta) VALUES ('1')", 515, "23000");
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES ('1')").ok);
  ExpectError(db, "UPDATE QVSYSTEM.QVS113STO SET StoNum = NULLIF('', '')", 515, "23000",
              "Cannot insert the value NULL into column 'StoNum', table 'QVSYSTEM.QVS113STO'; column does not allow "
              "nulls. UPDATE fails.");
}

TEST(TsqlErrors, DuplicateKeyIs2627AlsoForKeysDifferingInCaseOrTrailingBlanks) {
  Db db;
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto) VALUES ('abc', '7')").ok);
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto) VALUES ('ABC  ', '7')", 2627, "23000",
              "Violation of PRIMARY KEY constraint 'PK_QVS113Awv'. Cannot insert duplicate key in object "
              "'QVSYSTEM.QVS113Awv'. The duplicate key value is (ABC  , 7).");
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto) VALUES ('abc', '8')").ok);
  ExpectError(db, "UPDATE QVSYSTEM.QVS113Awv SET AwvSto = '7' WHERE AwvSto = '8'", 2627, "23000",
              "Violation of PRIMARY KEY constraint 'PK_QVS113Awv'. Cannot insert duplicate key in object "
              "'QVSYSTEM.QVS113Awv'. The duplicate key value is (abc, 7).");
}

TEST(TsqlErrors, TextLongerThanColumnIs8152ButSurplusBlanksAreCut) {
  Db db;
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES ('123456789')", 8152, "22001",
              "String or binary data would be truncated.");
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES ('12345678   ')").ok);
  ExpectError(db, "UPDATE QVSYSTEM.QVS113STO SET StoSta = 'xy'", 8152, "22001");
  EXPECT_EQ(db.Value("SELECT StoNum + '|' FROM QVSYSTEM.QVS113STO"), "12345678|");
  // Characters, not bytes: eight umlauts fit varchar(8).
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES ('äöüÄÖÜßé')").ok);
}

TEST(TsqlErrors, InvalidDateIs241OutOfRangeIs242) {
  Db db;
  const std::string prefix = "UPDATE QVSYSTEM.Qvs112Tmd SET TMDDAT = ";
  ASSERT_TRUE(db.Exec("INSERT INTO QVSYSTEM.Qvs112Tmd (TMDLIZ, TMDNUM) VALUES ('L', 'N')").ok);
  ExpectError(db, prefix + "convert(datetime,NULLIF('2024xx01 10:00:00',''),120)", 241, "22007",
              "Conversion failed when converting date and/or time from character string.");
  ExpectError(db, prefix + "convert(datetime,NULLIF('20240101 25:00:00',''),120)", 241, "22007");
  ExpectError(db, prefix + "convert(datetime,NULLIF('20240101 1000',''),120)", 241, "22007");
  ExpectError(db, prefix + "convert(datetime,NULLIF('2024010112:00:00',''),120)", 241, "22007");
  ExpectError(db, prefix + "convert(datetime,NULLIF('20241301 10:00:00',''),120)", 242, "22008",
              "The conversion of a varchar data type to a datetime data type resulted in an out-of-range value.");
  ExpectError(db, prefix + "convert(datetime,NULLIF('20230229',''),112)", 242, "22008");
  ExpectError(db, prefix + "convert(datetime,NULLIF('17000101',''),112)", 242, "22008");
  ExpectError(db, prefix + "'not a date'", 241, "22007");
  ExpectError(db, "SELECT CONVERT(datetime, '2024-02-30', 120)", 242, "22008");
}

TEST(TsqlErrors, OtherStatementErrorsCarrySqlServerNumbers) {
  Db db;
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoNum) VALUES ('1', '2')", 264, "42000");
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta) VALUES ('1')", 109, "21S01");
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES ('1', '2')", 110, "21S01");
  ExpectError(db, "SELECT NOSUCHFN(1)", 195, "42000", "'NOSUCHFN' is not a recognized built-in function name.");
  ExpectError(db, "SELECT CONVERT(char(10), GETDATE(), 999)", 281, "42000");
  ExpectError(db, "SELECT * FROM QVSYSTEM.MGSST20P WHERE M20Trm", 4145, "42000");
  ExpectError(db, "SELECT x.M20Trm FROM QVSYSTEM.MGSST20P", 4104, "42000");
  ExpectError(db, "INSERT INTO QVSYSTEM.QVS113STO (StoNum) VALUES (StoSta)", 128, "42000");
  // Nesting without end is refused, not followed into a stack overflow.
  ExpectError(db, "SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')'), 191, "42000");
  ExpectError(
      db,
      "SELECT 1 WHERE " +
          [] {
            std::string s;
            for (int i = 0; i < 50000; ++i) s += "NOT ";
            return s;
          }() +
          "1 = 1",
      191, "42000");
  ExpectError(
      db,
      "SELECT " +
          [] {
            std::string s;
            for (int i = 0; i < 50000; ++i) s += "- ";
            return s;
          }() +
          "1",
      191, "42000");
  // One statement per execution.
  ExpectError(db, "SELECT 1 SELECT 2", 102, "42000", "Incorrect syntax near 'SELECT'.");
}

}  // namespace
