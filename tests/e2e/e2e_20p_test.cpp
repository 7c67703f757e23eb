// The 20P file end to end: the real kranzel, unixODBC and the stand-in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/harness.h"
#include "e2e/import_expect.h"

using e2e::Installation;
using e2e::Row;
using ::testing::ElementsAre;

namespace {

std::string Line20P(const std::string& trm, const std::string& sch, const std::string& tg1,
                    const std::string& zz2, const std::string& ofv, const std::string& ofb) {
  return e2e::Record({{trm, 255}, {sch, 2}, {tg1, 1}, {zz2, 5}, {ofv, 4}, {ofb, 4}});
}

const char* kMark = "UPDATE QvSystem.MGSST20P SET    M20Dat = CONVERT(datetime, '19000101', 112) ";
const char* kSweep =
    "DELETE FROM Qvsystem.MGSST20P WHERE M20DAT = CONVERT(datetime, '19000101', 112) ";
const char* kTimestampQuery =
    "SELECT ( CONVERT(char(11), CURRENT_TIMESTAMP, 104) +          "
    "CONVERT(char(8), CURRENT_TIMESTAMP, 114)) ";

std::string Update(const std::string& ofb, const std::string& trm, const std::string& sch,
                   const std::string& tg1, const std::string& zz2, const std::string& ofv) {
  return "UPDATE QvSystem.MGSST20P SET    M20Ofb = '" + ofb +
         "', M20Dat = CURRENT_TIMESTAMP WHERE  M20Trm = '" + trm + "' AND    M20Sch = '" + sch +
         "' AND    M20Tg1 = '" + tg1 + "' AND    M20Zz2 = '" + zz2 + "' AND    M20Ofv = '" + ofv +
         "' ";
}

std::string Insert(const std::string& trm, const std::string& sch, const std::string& tg1,
                   const std::string& zz2, const std::string& ofv, const std::string& ofb) {
  return "INSERT INTO QvSystem.MGSST20P    (M20Trm, M20Sch, M20Tg1,     M20Zz2, M20Ofv, M20Ofb,  "
         "   M20Dat)  VALUES ('" +
         trm + "', '" + sch + "', '" + tg1 + "',          '" + zz2 + "', '" + ofv + "', '" + ofb +
         "',           CURRENT_TIMESTAMP)";
}

class Import20PTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb FROM QVSYSTEM.MGSST20P "
        "ORDER BY M20Trm, M20Ofv");
  }
  Installation db;
};

TEST_F(Import20PTest, FirstImportInsertsEveryRecordWithExactStatements) {
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700") +
                                 Line20P("TERM02", "B ", "", "1    ", "09  ", "  18"));
  auto r = db.Run({"in/20P.txt", "20p"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(db.Exists("in/20P.txt"));
  EXPECT_TRUE(db.Exists("in/20P.wrk"));
  // M20Trm, M20Sch and M20Tg1 are trimmed; M20Zz2, M20Ofv and M20Ofb are not.
  EXPECT_THAT(
      db.TakeJournal(),
      ElementsAre(kTimestampQuery, kMark, Update("1700", "TERM01", "A", "1", "12345", "0800"),
                  Insert("TERM01", "A", "1", "12345", "0800", "1700"),
                  Update("  18", "TERM02", "B", "", "1    ", "09  "),
                  Insert("TERM02", "B", "", "1    ", "09  ", "  18"), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("2 von 2 Datensaetze in MGSST20P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
  EXPECT_THAT(Rows(), ElementsAre(Row{"TERM01", "A", "1", "12345", "0800", "1700"},
                                  Row{"TERM02", "B", "", "1    ", "09  ", "  18"}));
}

TEST_F(Import20PTest, SecondImportUpdatesAndSweepsWhatTheFileDropped) {
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700") +
                                 Line20P("TERM02", "B", "2", "12345", "0900", "1800"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  db.TakeJournal();
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1730") +
                                 Line20P("TERM01", "A", "1", "12345", "0800", "1745"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  // The same key twice in one file updates its row twice; no INSERT.
  EXPECT_THAT(
      db.TakeJournal(),
      ElementsAre(kTimestampQuery, kMark, Update("1730", "TERM01", "A", "1", "12345", "0800"),
                  Update("1745", "TERM01", "A", "1", "12345", "0800"), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(Row{"TERM01", "A", "1", "12345", "0800", "1745"}));
  EXPECT_EQ(db.LogMessages().at(2), "2 von 2 Datensaetze in MGSST20P eingefuegt");
  auto dates = db.Query("SELECT CONVERT(char(8), M20Dat, 112) FROM QVSYSTEM.MGSST20P");
  ASSERT_EQ(dates.size(), 1u);
  EXPECT_NE(dates[0][0], "19000101");
}

TEST_F(Import20PTest, UpdateModeKeepsRowsTheFileDoesNotCarry) {
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700") +
                                 Line20P("TERM02", "B", "2", "12345", "0900", "1800"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  db.TakeJournal();
  db.WriteFile("in/20P.txt", Line20P("TERM03", "C", "3", "12345", "1000", "1900"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P", "upd"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, Update("1900", "TERM03", "C", "3", "12345", "1000"),
                          Insert("TERM03", "C", "3", "12345", "1000", "1900")));
  EXPECT_EQ(Rows().size(), 3u);
}

TEST_F(Import20PTest, EmptyFileSweepsEveryRowUnlessUpdateMode) {
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  db.WriteFile("in/20P.txt", "\n\n");
  ASSERT_EQ(db.Run({"in/20P.txt", "20P", "UPD"}).exitCode, 0);
  EXPECT_EQ(Rows().size(), 1u);
  db.WriteFile("in/20P.txt", "");
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(db.LogMessages().end()[-2], "0 von 0 Datensaetze in MGSST20P eingefuegt");
}

TEST_F(Import20PTest, WrongRecordLengthFailsAllFiveAttempts) {
  std::string good = Line20P("TERM01", "A", "1", "12345", "0800", "1700");
  std::string shortLine = good.substr(0, 270) + "\n";
  db.WriteFile("in/20P.txt", good + shortLine);
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 99);
  std::string wrong = "Falsche Satzlaenge! '" + shortLine + "' Laenge Soll/Ist (272/271)";
  // The message carries the line with its line end, so it spans two log lines.
  std::vector<std::string> expected;
  for (int i = 0; i < 5; ++i) {
    expected.push_back(wrong.substr(0, wrong.find('\n')));
    expected.push_back(wrong.substr(wrong.find('\n') + 1));
  }
  expected.emplace_back(
      "Die Schnittstellendatei vom Dateityp '20P' konnte nicht importiert werden!");
  EXPECT_EQ(db.LogMessages().size(), expected.size());
  const std::string all = db.ReadLog();
  std::size_t count = 0;
  for (std::size_t at = all.find(wrong); at != std::string::npos; at = all.find(wrong, at + 1))
    ++count;
  EXPECT_EQ(count, 5u);
  EXPECT_NE(all.find(expected.back()), std::string::npos);
  // The first record was written each time; the file's other rows stay marked.
  EXPECT_EQ(Rows().size(), 1u);
}

// An "Ae" written as UTF-8 into the Windows-1252 layout makes the record one
// byte too long: it is a wrong record length, not a record of its first 272
// characters with every field after the character shifted.
TEST_F(Import20PTest, LineOneByteTooLongIsAWrongLength) {
  const std::string good = Line20P("TERM01", "A", "1", "12345", "0800", "1700");
  const std::string utf8 = "\xC3\x84" + good.substr(1);  // 273 characters with the line end
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "20P", good + utf8,
      "Falsche Satzlaenge! '" + utf8.substr(0, 272) + "' Laenge Soll/Ist (272/273)");
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(Import20PTest, LastLineOf272CharactersWithoutLineEndIsARecord) {
  std::string line = Line20P("TERM01", "A", "1", "12345", "0800", "1700");
  line.back() = 'X';  // 272 characters, the last one standing where the line end would
  db.WriteFile("in/20P.txt", line);
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(Import20PTest, TransientDatabaseErrorReconnectsAndSucceeds) {
  db.SetControl("fail_statement 2627 1 INSERT INTO QvSystem.MGSST20P\n");
  std::string line = Line20P("TERM01", "A", "1", "12345", "0800", "1700");
  db.WriteFile("in/20P.txt", line);
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0);
  auto log = db.LogMessages();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[0], "Fehler in SQL_MGSST20P_Write: 2627. Satz: '" + line.substr(0, 271));
  EXPECT_EQ(log[1], "' ");
  EXPECT_EQ(log[2], "1. Versuch zur Wiederherstellung der Datenbankverbindung!");
  EXPECT_EQ(log[3], "Die Verbindung zur Datenbank wurde wiederhergestellt!");
  EXPECT_EQ(log[4], "1 von 1 Datensaetze in MGSST20P eingefuegt");
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(Import20PTest, DatabaseGoneMidImportIsReconnected) {
  // The timestamp query, the mark and a statement of the first record
  // succeed; then the connection breaks until the run reconnects.
  db.SetControl("drop_after 3\n");
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700") +
                                 Line20P("TERM02", "B", "2", "12345", "0900", "1800"));
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0);
  auto log = db.LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0].rfind("Fehler in SQL_MGSST20P_Write: ", 0), 0u) << log[0];
  EXPECT_EQ(log.back(), "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!");
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(Import20PTest, DateSweepWithoutStatementHandleFailsInsteadOfLeavingMarks) {
  if (db.ThroughTds())
    GTEST_SKIP() << "a statement handle cannot be refused over TDS (FreeTDS allocates it locally)";
  // Allocations: 1 timestamp query, 2 mark, 3 UPDATE, 4 INSERT, 5 sweep.
  db.Exec(
      "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb, "
      "M20Dat) VALUES ('OLD', 'A', '1', '1', '1', '1', CURRENT_TIMESTAMP)");
  db.SetControl("fail_stmt_alloc 5\n");
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700"));
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0);
  auto log = db.LogMessages();
  ASSERT_GE(log.size(), 1u);
  EXPECT_EQ(log[0], "Fehler in SQL_SST20P_Delete(): -1");
  // The second attempt swept the row the file no longer carries.
  EXPECT_THAT(Rows(), ElementsAre(Row{"TERM01", "A", "1", "12345", "0800", "1700"}));
}

TEST_F(Import20PTest, FreeTdsAnswerForNoRowStillInserts) {
  db.SetDsnAttribute("NoRowCountMode", "freetds");
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_EQ(Rows().size(), 1u);
  db.WriteFile("in/20P.txt", Line20P("TERM02", "B", "2", "12345", "0900", "1800"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_THAT(Rows(), ElementsAre(Row{"TERM02", "B", "2", "12345", "0900", "1800"}));
}

TEST_F(Import20PTest, ApostropheInAFieldIsStoredNotExecuted) {
  db.WriteFile("in/20P.txt",
               Line20P("O'Brien'; DELETE FROM x --", "A", "'", "12345", "0800", "17'0"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  auto journal = db.TakeJournal();
  EXPECT_EQ(journal.at(2),
            Update("17''0", "O''Brien''; DELETE FROM x --", "A", "''", "12345", "0800"));
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"O'Brien'; DELETE FROM x --", "A", "'", "12345", "0800", "17'0"}));
}

TEST_F(Import20PTest, CrLfFileReadsLikeLf) {
  std::string a = Line20P("TERM01", "A", "1", "12345", "0800", "1700");
  std::string b = Line20P("TERM02", "B", "2", "12345", "0900", "1800");
  a.insert(a.size() - 1, "\r");
  b.insert(b.size() - 1, "\r");
  db.WriteFile("in/20P.txt", a + b);
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_THAT(Rows(), ElementsAre(Row{"TERM01", "A", "1", "12345", "0800", "1700"},
                                  Row{"TERM02", "B", "2", "12345", "0900", "1800"}));
}

TEST_F(Import20PTest, CtrlZEndsTheInput) {
  db.WriteFile("in/20P.txt", Line20P("TERM01", "A", "1", "12345", "0800", "1700") + "\x1a" +
                                 Line20P("TERM02", "B", "2", "12345", "0900", "1800"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_EQ(db.LogMessages().at(0), "1 von 1 Datensaetze in MGSST20P eingefuegt");
}

}  // namespace
