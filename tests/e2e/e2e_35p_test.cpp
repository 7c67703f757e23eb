// The 35P file end to end: MGSST35P, and the "*ZKO" records that update
// QVS401ZLS instead.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "e2e/import_expect.h"

using e2e::Fill;
using e2e::Installation;
using e2e::kTimestampQuery;
using e2e::Row;
using ::testing::ElementsAre;

namespace {

// M35Trm M35Fir M35Bkl M35Les M35Wle M35Wpl M35Zko M35Zzo M35Bch
using Fields35P = std::vector<std::string>;

std::string Line35P(const Fields35P& f) {
  return e2e::Record({{f[0], 255},
                      {f[1], 3},
                      {f[2], 5},
                      {f[3], 2},
                      {f[4], 2},
                      {f[5], 3},
                      {f[6], 5},
                      {f[7], 5},
                      {f[8], 1}});
}

const char* kMark = "UPDATE QvSystem.MGSST35P SET    M35Dat = CONVERT(datetime, '19000101', 112) ";
const char* kSweep =
    "DELETE FROM Qvsystem.MGSST35P WHERE M35Dat = CONVERT(datetime, '19000101', 112) ";

// Values in layout order; the UPDATE takes the three values first.
std::string Update(const Fields35P& f) {
  return Fill(
      "UPDATE QvSystem.MGSST35P SET    M35Zko = '%s', M35Zzo = '%s',        M35Bch = '%s', "
      "M35Dat = CURRENT_TIMESTAMP WHERE  M35Trm = '%s' AND    M35Fir = '%s' AND    M35Bkl = "
      "'%s' AND    M35Les = '%s' AND    M35Wle = '%s' AND    M35Wpl = '%s' ",
      {f[6], f[7], f[8], f[0], f[1], f[2], f[3], f[4], f[5]});
}

std::string Insert(const Fields35P& f) {
  return Fill(
      "INSERT INTO QvSystem.MGSST35P    (M35Trm, M35Fir, M35Bkl,     M35Les, M35Wle, M35Wpl, "
      "    M35Zko, M35Zzo, M35Bch,     M35Dat)  VALUES ('%s', '%s', '%s',          '%s', "
      "'%s', '%s',          '%s', '%s', '%s',           CURRENT_TIMESTAMP)",
      f);
}

std::string ZlsUpdate(const std::string& zko, const std::string& trm, const std::string& les) {
  return Fill(
      " UPDATE QVSYSTEM.QVS401ZLS  SET   ZLSZKO = '%s'  WHERE ZLSTRM = '%s'  AND   "
      "ZLSLES = '%s' ",
      {zko, trm, les});
}

class Import35PTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT M35Trm, M35Fir, M35Bkl, M35Les, M35Wle, M35Wpl, M35Zko, M35Zzo, M35Bch "
        "FROM QVSYSTEM.MGSST35P ORDER BY M35Trm, M35Bkl");
  }
  std::vector<Row> ZlsRows() {
    return db.Query(
        "SELECT ZLSTRM, ZLSLES, ZLSZKO FROM QVSYSTEM.QVS401ZLS "
        "ORDER BY ZLSTRM, ZLSLES, ZLSZKO");
  }
  void SeedZls(const std::string& trm, const std::string& les, const std::string& zko) {
    db.Exec("INSERT INTO QVSYSTEM.QVS401ZLS (ZLSTRM, ZLSLES, ZLSZKO) VALUES ('" + trm + "', '" +
            les + "', '" + zko + "')");
  }
  Installation db;
};

TEST_F(Import35PTest, ZkoRecordsUpdateQvs401ZlsAndOtherKeysAreUpserted) {
  SeedZls("TERM01", "01", "OLD");
  SeedZls("TERM01", "02", "KEEP");
  const Fields35P plain = {"TERM01", "001", "BKL1", "01", "02", "003", "ZK1", "Z'1", "B"};
  const Fields35P zko = {"TERM01", "001", "*ZKO", "01", "02", "003", "NEWZ", "ZZ2", "B"};
  const Fields35P noRow = {"TERM09", "001", "*ZKO", "07", "02", "003", "NONE", "ZZ3", "B"};
  const Fields35P lower = {"TERM01", "001", "*zko", "01", "02", "003", "LOW", "ZZ4", ""};
  const Fields35P blank = {"TERM01", "001", " *ZKO", "01", "02", "003", "BLK", "ZZ5", "C"};
  const std::string noRowLine = Line35P(noRow);
  db.WriteFile("in/35P.txt",
               Line35P(plain) + Line35P(zko) + noRowLine + Line35P(lower) + Line35P(blank));
  ASSERT_EQ(db.Run({"in/35P.txt", "35p"}).exitCode, 0);

  Fields35P plainSent = plain;
  plainSent[7] = "Z''1";
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(plainSent), Insert(plainSent),
                          ZlsUpdate("NEWZ", "TERM01", "01"), ZlsUpdate("NONE", "TERM09", "07"),
                          Update(lower), Insert(lower), Update(blank), Insert(blank), kSweep));
  // The record that found no row is logged with 100 and its line (line end
  // included, so the message spans two log lines); the import goes on.
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("Fehler in SQL_Qvs401Zls_Update(): 100 Satz: '" +
                              noRowLine.substr(0, noRowLine.size() - 1),
                          "' ", "3 von 5 Datensaetze in MGSST35P eingefuegt",
                          "1 von 5 Datensaetze als Update QVS401ZLS eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '35P' wurde importiert!"));
  EXPECT_THAT(ZlsRows(), ElementsAre(Row{"TERM01", "01", "NEWZ"}, Row{"TERM01", "02", "KEEP"}));
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"TERM01", "001", " *ZKO", "01", "02", "003", "BLK", "ZZ5", "C"},
                          Row{"TERM01", "001", "*zko", "01", "02", "003", "LOW", "ZZ4", ""},
                          Row{"TERM01", "001", "BKL1", "01", "02", "003", "ZK1", "Z'1", "B"}));
}

TEST_F(Import35PTest, FileOfZkoRecordsOnlyLeavesMgsst35PEmpty) {
  // A row keyed "*ZKO" is never refreshed by the import, so the sweep takes it.
  db.Exec(
      "INSERT INTO QVSYSTEM.MGSST35P (M35Trm, M35Fir, M35Bkl, M35Les, M35Wle, M35Wpl, "
      "M35Zko, M35Zzo, M35Bch, M35Dat) VALUES ('TERM01', '001', '*ZKO', '01', '02', '003', "
      "'Z', 'Z', 'B', CURRENT_TIMESTAMP)");
  SeedZls("TERM01", "01", "OLD");
  SeedZls("TERM02", "01", "KEEP");
  db.WriteFile("in/35P.txt", Line35P({"TERM01", "001", "*ZKO", "01", "02", "003", "NEWZ", "", ""}));
  ASSERT_EQ(db.Run({"in/35P.txt", "35P"}).exitCode, 0);
  EXPECT_TRUE(Rows().empty());
  EXPECT_THAT(ZlsRows(), ElementsAre(Row{"TERM01", "01", "NEWZ"}, Row{"TERM02", "01", "KEEP"}));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("0 von 1 Datensaetze in MGSST35P eingefuegt",
                          "1 von 1 Datensaetze als Update QVS401ZLS eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '35P' wurde importiert!"));
}

TEST_F(Import35PTest, FailedZlsUpdateEndsTheAttemptAndIsRetried) {
  SeedZls("TERM01", "01", "OLD");
  db.SetControl("fail_statement 1205 1 UPDATE QVSYSTEM.QVS401ZLS\n");
  const std::string line = Line35P({"TERM01", "001", "*ZKO", "01", "02", "003", "NEWZ", "", ""});
  db.WriteFile("in/35P.txt", line);
  ASSERT_EQ(db.Run({"in/35P.txt", "35P"}).exitCode, 0);
  auto log = db.LogMessages();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "Fehler in SQL_Qvs401Zls_Update(): 1205 Satz: '" + line.substr(0, 281));
  EXPECT_EQ(log[1], "' ");
  EXPECT_EQ(log[2], "1. Versuch zur Wiederherstellung der Datenbankverbindung!");
  EXPECT_EQ(log.end()[-2], "1 von 1 Datensaetze als Update QVS401ZLS eingefuegt");
  EXPECT_THAT(ZlsRows(), ElementsAre(Row{"TERM01", "01", "NEWZ"}));
}

TEST_F(Import35PTest, SecondImportUpdatesAndSweepsUnlessUpdateMode) {
  const Fields35P a = {"TERM01", "001", "BKL1", "01", "02", "003", "ZK1", "ZZ1", "B"};
  const Fields35P b = {"TERM02", "001", "BKL1", "01", "02", "003", "ZK2", "ZZ2", "B"};
  Fields35P a2 = a;
  a2[6] = "ZK9";
  EXPECT_THAT(e2e::JournalOfSecondImport(db, "35P", Line35P(a) + Line35P(b), Line35P(a2), {}),
              ElementsAre(kTimestampQuery, kMark, Update(a2), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(a2));

  // With UPD nothing is marked or swept: the file only adds and changes rows.
  db.WriteFile("in/35P.txt", Line35P(b));
  ASSERT_EQ(db.Run({"in/35P.txt", "35P", "UPD"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, Update(b), Insert(b)));
  EXPECT_THAT(Rows(), ElementsAre(a2, b));
}

TEST_F(Import35PTest, LastRecordWithoutLineEndHasTheWrongLength) {
  const std::string good = Line35P({"TERM01", "001", "BKL1", "01", "02", "003", "Z", "Z", "B"});
  const std::string cut = good.substr(0, 281);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "35P", good + cut, "Falsche Satzlaenge! '" + cut + "' Laenge Soll/Ist (282/281)");
}

TEST_F(Import35PTest, EmptyFileLogsBothCountLinesWithZero) {
  e2e::ExpectEmptyFileCountsNothing(db, "35P", {}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in MGSST35P eingefuegt",
                                     "0 von 0 Datensaetze als Update QVS401ZLS eingefuegt"});
  e2e::ExpectEmptyFileCountsNothing(db, "35P", {"UPD"}, {kTimestampQuery},
                                    {"0 von 0 Datensaetze in MGSST35P eingefuegt",
                                     "0 von 0 Datensaetze als Update QVS401ZLS eingefuegt"});
}

}  // namespace
