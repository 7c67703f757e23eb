// The stand-in's statement cache: a statement of a cached shape must answer
// exactly as its own translation does (values that fail conversion, values
// too long for their column, a literal the translation reads), a schema
// change must drop what was cached, and a duplicate key's message, built
// only when a client reads it, must be SQL Server's.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "standin/driver_test_util.h"
#include "standin/tsql_test_util.h"
#include "tsql.h"

namespace {

// A database of the schema file, opened as the driver opens it, with every
// SQLite statement that runs recorded (unexpanded, so a cached statement
// shows its ?N parameters).
class Engine {
 public:
  Engine() {
    tsql::Error err;
    EXPECT_TRUE(db_.Open(file_.path(), false, err)) << err.message;
    sqlite3_trace_v2(db_.handle(), SQLITE_TRACE_STMT, Trace, this);
  }

  struct Outcome {
    bool ok = false;
    tsql::Error error;
    long long rows = -1;
    std::string sqlite;  // the first SQLite statement that ran, as prepared
  };

  Outcome Run(const std::string& text) {
    Outcome o;
    ran_.clear();
    tsql::Execution ex;
    o.ok = tsql::Execute(db_.handle(), text, ex, o.error);
    o.rows = ex.rowCount;
    o.sqlite = ran_;
    return o;
  }

  std::string Value(const std::string& query) {
    tsql::Execution ex;
    tsql::Error err;
    if (!tsql::Execute(db_.handle(), query, ex, err) || ex.stmt == nullptr || !ex.rowPending) {
      ADD_FAILURE() << query << ": " << err.message;
      return "";
    }
    const unsigned char* v = sqlite3_column_text(ex.stmt, 0);
    return v == nullptr ? "<NULL>" : reinterpret_cast<const char*>(v);
  }

  tsqltest::Db& file() { return file_; }

 private:
  static int Trace(unsigned, void* self, void*, void* sql) {
    auto* e = static_cast<Engine*>(self);
    if (e->ran_.empty()) e->ran_ = static_cast<const char*>(sql);  // the statement, not what its error reads
    return 0;
  }
  tsqltest::Db file_;  // creates the schema; its own handle stays unused
  tsql::Database db_;
  std::string ran_;
};

// The error the statement meets through the translation alone (Translate
// and SQLite's prepare, no cache), after `before` ran the same way.
tsql::Error UncachedError(const std::vector<std::string>& before, const std::string& text) {
  tsqltest::Db reference;
  for (const std::string& b : before) EXPECT_TRUE(reference.Exec(b).ok) << b;
  tsqltest::Result r = reference.Exec(text);
  EXPECT_FALSE(r.ok) << text;
  return r.error;
}

void ExpectSameError(const tsql::Error& got, const tsql::Error& want, const std::string& text) {
  EXPECT_EQ(got.native, want.native) << text << "\n" << got.message;
  EXPECT_EQ(got.sqlstate, want.sqlstate) << text;
  EXPECT_EQ(got.message, want.message) << text;
}

const char* const kInsertAwv =
    " INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto, AwvCod,   AwvSta, AwvDat, AwvErf)  "
    "VALUES ('%s', '%s', '%s',  '1', CONVERT(datetime, '%s', 112), 'QvImport' )";

TEST(StatementCache, CacheHitWithValuesThatFailAnswersAsTheTranslation) {
  Engine e;
  // The shape is cached by a good statement; its parameters run as ?N.
  const std::vector<std::string> before = {tsqltest::Fill(kInsertAwv, {"N1", "S1", "C1", "20240229"}),
                                           tsqltest::Fill(kInsertAwv, {"N2", "S1", "C1", "20240229"})};
  Engine::Outcome good = e.Run(before[0]);
  ASSERT_TRUE(good.ok) << good.error.message;
  Engine::Outcome hit = e.Run(before[1]);
  ASSERT_TRUE(hit.ok) << hit.error.message;
  EXPECT_NE(hit.sqlite.find("?1"), std::string::npos) << hit.sqlite;
  EXPECT_EQ(hit.rows, 1);
  EXPECT_EQ(e.Value("SELECT CONVERT(varchar(10), AwvDat, 120) FROM QVSYSTEM.QVS113Awv WHERE AwvNum = 'N2'"),
            "2024-02-29");

  // Each of these fails: a date that does not exist (folded at
  // translation), a value too long for its column (checked at
  // translation for a literal), a key that exists; the same shape must
  // fail as the statement does on its own, error for error.
  const std::vector<std::vector<std::string>> failing = {
      {"N3", "S1", "C1", "20230229"},      // 242, out of range
      {"N3", "S1", "C1", "2024-02-x"},     // 241, not a date
      {"N3", "S1", "C1234", "20240101"},   // 8152, AwvCod is varchar(5): fits
      {"N3", "S1", "C12345", "20240101"},  // 8152: one too many
      {"N2", "S1", "C1", "20240229"},      // 2627
  };
  for (const auto& values : failing) {
    std::string text = tsqltest::Fill(kInsertAwv, values);
    Engine::Outcome o = e.Run(text);
    if (values[2] == "C1234") {
      EXPECT_TRUE(o.ok) << o.error.message;
      ASSERT_TRUE(e.Run("DELETE FROM QVSYSTEM.QVS113Awv WHERE AwvNum = 'N3'").ok);
      continue;
    }
    EXPECT_FALSE(o.ok) << text;
    EXPECT_NE(o.sqlite.find("?1"), std::string::npos) << "not the cached statement: " << o.sqlite;
    ExpectSameError(o.error, UncachedError(before, text), text);
  }
  // The failures left nothing behind and the cache still serves the shape.
  EXPECT_EQ(e.Value("SELECT COUNT(*) FROM QVSYSTEM.QVS113Awv"), "2");
  Engine::Outcome after = e.Run(tsqltest::Fill(kInsertAwv, {"N4", "S1", "", "20240301"}));
  EXPECT_TRUE(after.ok) << after.error.message;
  EXPECT_NE(after.sqlite.find("?1"), std::string::npos) << after.sqlite;
}

TEST(StatementCache, LiteralsTheTranslationReadsKeepTheirMeaning) {
  Engine e;
  // NULLIF('', '') is NULL, NULLIF('x', '') is 'x'; RTRIM of a value
  // without trailing blanks is the value, with them it is shorter; N''
  // and '' are different shapes.
  const char* const update =
      "UPDATE QVSYSTEM.QVS113Awv SET AwvCod = NULLIF('%s', ''), AwvErf = RTRIM('%s') WHERE AwvNum = '%s'";
  ASSERT_TRUE(e.Run("INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto) VALUES ('A', '1')").ok);
  struct Case {
    std::string cod, erf, wantCod, wantErf;
  };
  for (const Case& c : std::vector<Case>{{"x", "a", "x", "a"},
                                         {"", "b", "<NULL>", "b"},
                                         {"y", "c  ", "y", "c"},
                                         {"  ", "d", "<NULL>", "d"},
                                         {"z", "e", "z", "e"}}) {
    Engine::Outcome o = e.Run(tsqltest::Fill(update, {c.cod, c.erf, "A"}));
    ASSERT_TRUE(o.ok) << o.error.message;
    EXPECT_EQ(e.Value("SELECT AwvCod FROM QVSYSTEM.QVS113Awv"), c.wantCod);
    EXPECT_EQ(e.Value("SELECT AwvErf + '|' FROM QVSYSTEM.QVS113Awv"), c.wantErf + "|");
  }
  EXPECT_EQ(e.Value("SELECT 'a' + N'b'"), "ab");
  EXPECT_EQ(e.Value("SELECT N'a' + 'b'"), "ab");
  // A number in place of a text is another shape, not a text parameter.
  EXPECT_EQ(e.Value("SELECT LEN('12345')"), "5");
  EXPECT_EQ(e.Value("SELECT LEN(12345)"), "5");
  EXPECT_EQ(e.Value("SELECT CONVERT(varchar(10), CONVERT(datetime, '01.02.2024', 104), 112)"), "20240201");
  EXPECT_EQ(e.Value("SELECT CONVERT(varchar(10), CONVERT(datetime, '2024-02-01', 120), 104)"), "01.02.2024");
}

TEST(StatementCache, SchemaChangeDropsCachedStatements) {
  Engine e;
  ASSERT_TRUE(e.Run("CREATE TABLE QVSYSTEM.Probe (K varchar(5) NOT NULL PRIMARY KEY, V varchar(3) NULL)").ok);
  const char* const insert = "INSERT INTO QVSYSTEM.Probe (K, V) VALUES ('%s', '%s')";
  ASSERT_TRUE(e.Run(tsqltest::Fill(insert, {"a", "abc"})).ok);
  Engine::Outcome hit = e.Run(tsqltest::Fill(insert, {"b", "abc"}));
  ASSERT_TRUE(hit.ok) << hit.error.message;
  ASSERT_NE(hit.sqlite.find("?2"), std::string::npos) << hit.sqlite;

  // V becomes varchar(2): the cached translation stored 'abc' as it is;
  // the new one must refuse it, as SQL Server does.
  ASSERT_TRUE(e.Run("DROP TABLE QVSYSTEM.Probe").ok);
  ASSERT_TRUE(e.Run("CREATE TABLE QVSYSTEM.Probe (K varchar(5) NOT NULL PRIMARY KEY, V varchar(2) NULL)").ok);
  std::string text = tsqltest::Fill(insert, {"c", "abc"});
  Engine::Outcome refused = e.Run(text);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.error.native, 8152) << refused.error.message;

  // V becomes int: the same shape now converts its text.
  ASSERT_TRUE(e.Run("ALTER TABLE QVSYSTEM.Probe DROP COLUMN V").ok);
  ASSERT_TRUE(e.Run("ALTER TABLE QVSYSTEM.Probe ADD V int NULL").ok);
  Engine::Outcome converted = e.Run(tsqltest::Fill(insert, {"d", "42"}));
  ASSERT_TRUE(converted.ok) << converted.error.message;
  EXPECT_EQ(e.Value("SELECT V + 1 FROM QVSYSTEM.Probe WHERE K = 'd'"), "43");
  Engine::Outcome notANumber = e.Run(tsqltest::Fill(insert, {"e", "x"}));
  EXPECT_FALSE(notANumber.ok);
  EXPECT_EQ(notANumber.error.native, 245) << notANumber.error.message;
}

}  // namespace

namespace standin_test {
namespace {

// Through the driver manager: the native error and SQLSTATE of a duplicate
// key at once, its message when the client reads it, the same as SQL
// Server's for a primary key and for a unique index.
TEST(StatementCacheDriver, DuplicateKeyMessageIsBuiltWhenRead) {
  TestDsn dsn;
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.Connect(dsn.dsn)));
  {
    Statement ddl(conn.dbc);
    ASSERT_TRUE(SQL_SUCCEEDED(ddl.Exec("CREATE UNIQUE INDEX IX_Sto_Erf ON QVSYSTEM.QVS113STO (StoErf)")));
  }
  const std::string insert = " INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta, StoErf)  VALUES ('%s', '1', '%s' )";
  for (const auto& values : std::vector<std::vector<std::string>>{{"1", "a"}, {"2", "b"}}) {
    Statement st(conn.dbc);
    ASSERT_EQ(st.Exec(tsqltest::Fill(insert, values)), SQL_SUCCESS);
  }
  Statement pk(conn.dbc);
  ASSERT_EQ(pk.Exec(tsqltest::Fill(insert, {"1", "c"})), SQL_ERROR);
  SQLINTEGER native = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetDiagField(SQL_HANDLE_STMT, pk.h, 1, SQL_DIAG_NATIVE, &native, 0, nullptr)));
  EXPECT_EQ(native, 2627);
  Diag d = pk.FirstDiag();
  EXPECT_EQ(d.sqlstate, "23000");
  EXPECT_EQ(d.message,
            "[KranzelStandin][SQL Server]Violation of PRIMARY KEY constraint 'PK_QVS113STO'. Cannot insert duplicate "
            "key in object 'QVSYSTEM.QVS113STO'. The duplicate key value is (1).");
  EXPECT_EQ(pk.FirstDiag().message, d.message);  // read twice, built once, the same

  Statement ix(conn.dbc);
  ASSERT_EQ(ix.Exec(tsqltest::Fill(insert, {"3", "B"})), SQL_ERROR);
  Diag u = ix.FirstDiag();
  EXPECT_EQ(u.native, 2601);
  EXPECT_EQ(u.message,
            "[KranzelStandin][SQL Server]Cannot insert duplicate key row in object 'QVSYSTEM.QVS113STO' with unique "
            "index 'IX_Sto_Erf'. The duplicate key value is (B).");
  // A message nobody read is dropped with its handle; the connection goes on.
  {
    Statement unread(conn.dbc);
    EXPECT_EQ(unread.Exec(tsqltest::Fill(insert, {"2", "z"})), SQL_ERROR);
  }
  Statement next(conn.dbc);
  EXPECT_EQ(next.Exec(tsqltest::Fill(insert, {"4", "d"})), SQL_SUCCESS);
}

}  // namespace
}  // namespace standin_test
