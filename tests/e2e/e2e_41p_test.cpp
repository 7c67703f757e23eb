// The 41P file end to end: the plain import cycle on MGSST41P.
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

// M41Trm M41Fir M41Zpl M41Wnr M41Zzo M41Tnr M41Von M41Bis
using Fields41P = std::vector<std::string>;

std::string Line41P(const Fields41P& f) {
  return e2e::Record(
      {{f[0], 255}, {f[1], 3}, {f[2], 3}, {f[3], 2}, {f[4], 5}, {f[5], 1}, {f[6], 4}, {f[7], 4}});
}

const char* kMark = "UPDATE QvSystem.MGSST41P SET    M41Dat = CONVERT(datetime, '19000101', 112) ";
// Two blanks after WHERE and none at the end.
const char* kSweep =
    "DELETE FROM Qvsystem.MGSST41P WHERE  M41Dat = CONVERT(datetime, '19000101', 112)";

std::string Update(const Fields41P& f) {
  return Fill(
      "UPDATE QvSystem.MGSST41P SET    M41Bis = '%s', M41Dat = CURRENT_TIMESTAMP WHERE  M41Trm "
      "= '%s' AND    M41Fir = '%s' AND    M41Zpl = '%s' AND    M41Wnr = '%s' AND    M41Zzo = "
      "'%s' AND    M41Tnr = '%s' AND    M41Von = '%s' ",
      {f[7], f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
}

std::string Insert(const Fields41P& f) {
  return Fill(
      "INSERT INTO QvSystem.MGSST41P    (M41Trm, M41Fir, M41Zpl,     M41Wnr, M41Zzo, M41Tnr,  "
      "   M41Von, M41Bis, M41Dat)  VALUES ('%s', '%s', '%s',          '%s', '%s', '%s',       "
      "   '%s', '%s', CURRENT_TIMESTAMP)",
      f);
}

class Import41PTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT M41Trm, M41Fir, M41Zpl, M41Wnr, M41Zzo, M41Tnr, M41Von, M41Bis "
        "FROM QVSYSTEM.MGSST41P ORDER BY M41Trm, M41Von");
  }
  Installation db;
};

const Fields41P kEarly = {"TERM01", "001", "Z1", "1", "12345", "1", "0600", "1400"};
const Fields41P kLate = {"TERM01", "001", "Z1", "1", "12345", "1", "1400", "2200"};

TEST_F(Import41PTest, FirstImportInsertsEveryRecordTrimmedAndEscaped) {
  // Records that differ in M41Von alone are two rows.
  const Fields41P odd = {"O'NEIL ", "02 ", "Z'", "", "1    ", "2", "08  ", "1'  "};
  db.WriteFile("in/41P.txt", Line41P(kEarly) + Line41P(kLate) + Line41P(odd));
  ASSERT_EQ(db.Run({"in/41P.txt", "41P"}).exitCode, 0);
  const Fields41P oddSent = {"O''NEIL", "02", "Z''", "", "1", "2", "08", "1''"};
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kEarly), Insert(kEarly), Update(kLate),
                          Insert(kLate), Update(oddSent), Insert(oddSent), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("3 von 3 Datensaetze in MGSST41P eingefuegt",
                          "Die Schnittstellendatei vom Dateityp '41P' wurde importiert!"));
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"O'NEIL", "02", "Z'", "", "1", "2", "08", "1'"}, kEarly, kLate));
}

TEST_F(Import41PTest, SecondImportUpdatesByKeyAndSweepsUnlessUpdateMode) {
  // M41Bis is no key: the record updates the row the first import wrote.
  Fields41P early2 = kEarly;
  early2[7] = "1500";
  EXPECT_THAT(
      e2e::JournalOfSecondImport(db, "41P", Line41P(kEarly) + Line41P(kLate), Line41P(early2), {}),
      ElementsAre(kTimestampQuery, kMark, Update(early2), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(early2));

  db.WriteFile("in/41P.txt", Line41P(kLate));
  ASSERT_EQ(db.Run({"in/41P.txt", "41P", "upd"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, Update(kLate), Insert(kLate)));
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(Import41PTest, LastLineIsARecordOnlyWith278Characters) {
  std::string full = Line41P(kEarly);
  full.back() = 'X';  // 278 characters, the last one where the line end would stand
  db.WriteFile("in/41P.txt", full);
  ASSERT_EQ(db.Run({"in/41P.txt", "41P"}).exitCode, 0);
  EXPECT_THAT(Rows(), ElementsAre(kEarly));

  const std::string cut = Line41P(kLate).substr(0, 277);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "41P", Line41P(kEarly) + cut,
      "Falsche Satzlaenge! '" + cut + "' Laenge Soll/Ist (278/277)");
}

TEST_F(Import41PTest, EmptyFileSweepsEverythingUnlessUpdateMode) {
  db.WriteFile("in/41P.txt", Line41P(kEarly));
  ASSERT_EQ(db.Run({"in/41P.txt", "41P"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "41P", {"UPD"}, {kTimestampQuery},
                                    {"0 von 0 Datensaetze in MGSST41P eingefuegt"});
  EXPECT_EQ(Rows().size(), 1u);
  e2e::ExpectEmptyFileCountsNothing(db, "41P", {}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in MGSST41P eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

}  // namespace
