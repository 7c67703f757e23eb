// DDL scripts (the schema file, GO batches, comments, constraints) and the
// catalog the translator keeps per connection: read once, read again after
// DDL, and found again when another connection changed the schema.
#include <gtest/gtest.h>

#include "tsql_test_util.h"

namespace {

using tsqltest::Db;
using tsqltest::Row;

TEST(TsqlSchema, SchemaFileCreatesEveryTableWithItsKey) {
  Db db;
  const char* const kTables[] = {"MGSST20P",  "MGSST35P",  "QVS401ZLS", "MGSST41P", "Qvs112Tmd",
                                 "Qvs301Asw", "QVS113STO", "QVS113Awv", "O2002TSW", "Qvs120Kid",
                                 "Qvs301Awb", "MGSSTFTG",  "MGSSTMST",  "MGSSTMDT", "MGSSTFCD"};
  for (const char* t : kTables) {
    tsqltest::Result r = db.Exec(std::string("SELECT COUNT(*) FROM QvSystem.") + t);
    EXPECT_TRUE(r.ok) << t << ": " << r.error.message;
  }
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM sys.schemas"), "1");
  // Running the file again fails as on SQL Server: the schema exists.
  tsql::Error err;
  EXPECT_FALSE(db.Script(tsqltest::SourceFile("schema/qvsystem.sql"), err));
  EXPECT_EQ(err.native, 2714);
  EXPECT_EQ(err.message, "There is already an object named 'QVSYSTEM' in the database.");
}

TEST(TsqlSchema, NamesInAnyCaseAndBracketsFindTheSameTable) {
  Db db;
  ASSERT_TRUE(db.Exec("INSERT INTO [QVSYSTEM].[QVS113STO] ([StoNum]) VALUES ('1')").ok);
  EXPECT_EQ(db.Value("SELECT stonum FROM qvsystem.qvs113sto"), "1");
  EXPECT_EQ(db.Value("SELECT \"STONUM\" FROM Qvsystem.QVS113STO"), "1");
  EXPECT_EQ(db.Value("SELECT s.StoNum FROM QVS113STO AS s WITH (NOLOCK) WHERE s.StoNum = '1' OR 1 = 0"), "1");
  EXPECT_EQ(db.Value("SELECT QVS113STO.StoNum FROM QVSYSTEM.QVS113STO WHERE QVSYSTEM.QVS113STO.StoNum = '1'"), "1");
  // Once the table has an alias, only the alias names it.
  EXPECT_EQ(db.Exec("SELECT s.StoNum FROM QVS113STO s WHERE QVS113STO.StoNum = '1'").error.native, 4104);
  EXPECT_EQ(db.Rows("SELECT TOP 1 StoNum AS n, 1 x FROM QVSYSTEM.QVS113STO ORDER BY n DESC"),
            (std::vector<Row>{{"1", "1"}}));
}

// What an administrator asks of the data by hand: counts per group, with
// the groups compared as the collation compares; aggregates and positions
// in the wrong place answered as SQL Server answers them. Transactions and
// the statements the stand-in leaves out are syntax errors, never run.
TEST(TsqlSchema, GroupedQueriesAndTheirErrors) {
  Db db;
  for (const char* values : {"('1', 'A')", "('2', 'a ')", "('3', 'B')", "('4', NULL)"}) {
    ASSERT_TRUE(db.Exec(std::string("INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta) VALUES ") + values).ok);
  }
  EXPECT_EQ(db.Rows("SELECT UPPER(StoSta), COUNT(*) FROM QVSYSTEM.QVS113STO WHERE StoSta IS NOT NULL "
                    "GROUP BY StoSta HAVING COUNT(*) > 1"),
            (std::vector<Row>{{"A", "2"}}));
  EXPECT_EQ(db.Rows("SELECT COUNT(*) FROM QVSYSTEM.QVS113STO GROUP BY StoSta ORDER BY 1 DESC"),
            (std::vector<Row>{{"2"}, {"1"}, {"1"}}));
  EXPECT_EQ(db.Exec("SELECT StoNum FROM QVSYSTEM.QVS113STO WHERE COUNT(*) > 1").error.native, 147);
  EXPECT_EQ(db.Exec("SELECT StoNum FROM QVSYSTEM.QVS113STO ORDER BY 2").error.native, 108);
  EXPECT_EQ(db.Exec("SELECT COUNT(*) FROM QVSYSTEM.QVS113STO GROUP BY 2").error.native, 164);
  for (const char* unsupported : {"BEGIN TRAN", "COMMIT", "ROLLBACK TRANSACTION",
                                  "SELECT CASE WHEN StoSta IS NULL THEN 1 END FROM QVSYSTEM.QVS113STO",
                                  "DROP INDEX IX_Qvs301Asw_Key ON QVSYSTEM.Qvs301Asw", "DROP SCHEMA QVSYSTEM"}) {
    EXPECT_EQ(db.Exec(unsupported).error.native, 102) << unsupported;
  }
}

TEST(TsqlScript, BatchesCommentsAndConstraints) {
  Db db(false);
  tsql::Error err;
  const std::string script =
      "SET ANSI_NULLS ON\nSET QUOTED_IDENTIFIER ON\nGO\n"
      "/* a test schema /* nested */ still comment */\n"
      "CREATE SCHEMA Test AUTHORIZATION dbo\n"
      "go\n"
      "-- two statements in one batch\n"
      "CREATE TABLE Test.A (\n"
      "  K varchar(10) NOT NULL CONSTRAINT PK_A PRIMARY KEY CLUSTERED,\n"
      "  U nvarchar(5) NULL CONSTRAINT UQ_A UNIQUE,\n"
      "  D datetime NOT NULL DEFAULT (getdate()),\n"
      "  N smallint DEFAULT 7,\n"
      "  T varchar(max) DEFAULT ('x')\n"
      ") ON [PRIMARY];\n"
      "CREATE UNIQUE NONCLUSTERED INDEX IX_A_N ON Test.A (N DESC) WITH (PAD_INDEX = OFF) ON [PRIMARY]\n"
      "GO 1 -- once\n"
      "CREATE TABLE [Test].[B] ([Id] int, [Txt] char(3), PRIMARY KEY ([Id]))\n";
  ASSERT_TRUE(db.Script(script, err)) << err.native << " " << err.message;
  ASSERT_TRUE(db.Exec("INSERT INTO Test.A (K) VALUES ('k1')").ok);
  EXPECT_EQ(db.Rows("SELECT K, U, N, T, LEN(CONVERT(varchar, D, 121)) FROM Test.A"),
            (std::vector<Row>{{"k1", "<NULL>", "7", "x", "23"}}));
  tsqltest::Result dup = db.Exec("INSERT INTO Test.A (K, N) VALUES ('K1 ', 8)");
  EXPECT_EQ(dup.error.message,
            "Violation of PRIMARY KEY constraint 'PK_A'. Cannot insert duplicate key in object 'Test.A'. The "
            "duplicate key value is (K1 ).");
  ASSERT_TRUE(db.Exec("INSERT INTO Test.A (K, U, N) VALUES ('k2', 'u', 8)").ok);
  tsqltest::Result uq = db.Exec("INSERT INTO Test.A (K, U, N) VALUES ('k3', 'U', 9)");
  EXPECT_EQ(uq.error.native, 2627);
  EXPECT_EQ(uq.error.message,
            "Violation of UNIQUE KEY constraint 'UQ_A'. Cannot insert duplicate key in object 'Test.A'. The "
            "duplicate key value is (U).");
  tsqltest::Result ix = db.Exec("INSERT INTO Test.A (K, N) VALUES ('k4', 8)");
  EXPECT_EQ(ix.error.native, 2601);
  EXPECT_EQ(ix.error.message,
            "Cannot insert duplicate key row in object 'Test.A' with unique index 'IX_A_N'. The duplicate key value "
            "is (8).");
  ASSERT_TRUE(db.Exec("INSERT INTO Test.B (Id, Txt) VALUES (1, 'a')").ok);
  EXPECT_EQ(db.Value("SELECT Txt + '|' FROM Test.B"), "a  |");
}

TEST(TsqlScript, DdlErrorsCarrySqlServerNumbers) {
  Db db(false);
  tsql::Error err;
  auto fails = [&](const std::string& script, int native) {
    EXPECT_FALSE(db.Script(script, err)) << script;
    EXPECT_EQ(err.native, native) << script << " -> " << err.message;
  };
  fails("CREATE TABLE Nope.T (A int)", 2760);
  fails("CREATE TABLE T (A int, a int)", 2705);
  fails("CREATE TABLE T (A money)", 2715);
  fails("CREATE TABLE T (A int NULL PRIMARY KEY)", 8111);
  fails("CREATE TABLE T (A int PRIMARY KEY, B int PRIMARY KEY)", 8110);
  fails("CREATE TABLE T (A int, PRIMARY KEY (B))", 1911);
  fails("CREATE TABLE T (A int DEFAULT 'x')", 245);
  fails("CREATE TABLE T (A varchar(0))", 1001);
  fails("CREATE TABLE T (A int IDENTITY(1,1))", 102);
  ASSERT_TRUE(db.Script("CREATE TABLE T (A int, B int)\nGO\n", err)) << err.message;
  fails("CREATE TABLE dbo.t (A int)", 2714);
  EXPECT_TRUE(db.Script("CREATE INDEX IX_T ON T (A DESC) INCLUDE (B) WITH (FILLFACTOR = 80) ON [PRIMARY]", err))
      << err.message;
  fails("CREATE INDEX IX_T ON T (B)", 1913);
  fails("CREATE INDEX IX_F ON T (A) WHERE A > 0", 102);
  fails("CREATE INDEX IX_C ON T (C)", 1911);
  fails("DROP TABLE dbo.Nope", 3701);
  EXPECT_TRUE(db.Script("DROP TABLE IF EXISTS dbo.Nope", err));
  EXPECT_TRUE(db.Script("DROP TABLE T", err)) << err.message;
  EXPECT_EQ(db.Exec("SELECT * FROM T").error.native, 208);
}

// Counts the SQL statements SQLite runs on a connection.
int CountStatements(unsigned, void* counter, void*, void*) {
  ++*static_cast<int*>(counter);
  return 0;
}

TEST(TsqlCatalog, TranslationReadsTheSchemaOnceNotPerStatement) {
  Db db;
  tsql::Translation tr;
  tsql::Error err;
  ASSERT_TRUE(tsql::Translate(db.handle(), "SELECT M20Trm FROM QVSYSTEM.MGSST20P", tr, err));
  int statements = 0;
  sqlite3_trace_v2(db.handle(), SQLITE_TRACE_STMT, CountStatements, &statements);
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(tsql::Translate(db.handle(),
                                "UPDATE QvSystem.MGSST20P SET    M20Ofb = 'x', M20Dat = CURRENT_TIMESTAMP WHERE  "
                                "M20Trm = 'a' AND    M20Sch = 'b' AND    M20Tg1 = 'c' AND    M20Zz2 = 'd' AND    "
                                "M20Ofv = 'e' ",
                                tr, err));
  }
  EXPECT_EQ(statements, 0);
  sqlite3_trace_v2(db.handle(), 0, nullptr, nullptr);
}

TEST(TsqlCatalog, DdlOfThisOrAnotherConnectionIsSeenAtOnce) {
  Db db;
  ASSERT_TRUE(db.Exec("ALTER TABLE QVSYSTEM.QVS113STO ADD StoNeu varchar(3) NULL").ok);
  EXPECT_TRUE(db.Exec("SELECT StoNeu FROM QVSYSTEM.QVS113STO").ok);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.path().c_str(), &other), SQLITE_OK);
  tsql::Error err;
  ASSERT_TRUE(tsql::Setup(other, err));
  ASSERT_TRUE(tsql::RunScript(other,
                              "ALTER TABLE QVSYSTEM.QVS113STO ADD StoMehr int NULL\nGO\n"
                              "CREATE TABLE QVSYSTEM.Neu (A varchar(2) NOT NULL PRIMARY KEY)\nGO\n"
                              "ALTER TABLE QVSYSTEM.O2002TSW DROP COLUMN TswAmp\n",
                              err))
      << err.message;
  sqlite3_close(other);
  EXPECT_TRUE(db.Exec("INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoMehr) VALUES ('1', '5')").ok);
  EXPECT_TRUE(db.Exec("SELECT A FROM QVSYSTEM.Neu").ok);
  EXPECT_EQ(db.Exec("INSERT INTO QVSYSTEM.O2002TSW (TswIdn, TswAmp) VALUES ('a', 'b')").error.native, 207);
}

}  // namespace
