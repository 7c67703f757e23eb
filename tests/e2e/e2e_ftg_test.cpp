// The FTG file end to end: long and short holiday records in MGSSTFTG, marked
// and swept by date whatever "UPD" says.
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

// FTGTRM FTGLIZ FTGMND FTGJHR FTGDTM FTGTXT FTGKRT [FTGKAL]
using FieldsFtg = std::vector<std::string>;

// A long record (with FTGKAL) of 303 characters, or a short one of 299.
std::string LineFtg(const FieldsFtg& f) { return e2e::FixedLine(f, {255, 5, 5, 4, 8, 20, 1, 3}); }

const char* kMark = "UPDATE QvSystem.MGSSTFTG SET    FTGDAT = CONVERT(datetime, '19000101', 112) ";
const char* kSweep =
    "DELETE FROM Qvsystem.MGSSTFTG WHERE CONVERT(char(11), FTGDAT, 112) = '19000101' ";

FieldsFtg Sent(FieldsFtg f) {
  f.resize(8);  // a short record sends FTGKAL empty
  return f;
}

std::string Update(const FieldsFtg& given) {
  FieldsFtg f = Sent(given);
  return Fill(
      "UPDATE QVSYSTEM.MGSSTFTG    SET FTGJHR = '%s', FTGTXT = '%s',  FTGKRT = '%s',  FTGDAT = "
      "CURRENT_TIMESTAMP WHERE  FTGTRM = '%s' AND    FTGDTM = '%s' AND    FTGLIZ = '%s' AND    "
      "FTGMND = '%s' AND    FTGKAL = '%s' ",
      {f[3], f[5], f[6], f[0], f[4], f[1], f[2], f[7]});
}

std::string Insert(const FieldsFtg& given) {
  return Fill(
      "INSERT INTO QVSYSTEM.MGSSTFTG  (FTGTrm, FTGLiz, FTGMnd,   FTGJhr, FTGDtm, FTGTxt,   "
      "FTGKrt, FTGKal,   FTGDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s',  "
      "CURRENT_TIMESTAMP) ",
      Sent(given));
}

class ImportFtgTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT FTGTRM, FTGLIZ, FTGMND, FTGJHR, FTGDTM, FTGTXT, FTGKRT, FTGKAL "
        "FROM QVSYSTEM.MGSSTFTG ORDER BY FTGTRM, FTGKAL");
  }
  Installation db;
};

const FieldsFtg kLong = {"TERM01", "L1", "M1", "2024", "20241003", "Einheit", "J", "BY"};
const FieldsFtg kShort = {"TERM01", "L1", "M1", "2024", "20241003", "Einheit", "J"};

TEST_F(ImportFtgTest, LongAndShortRecordsAreTwoRows) {
  // FTGKAL is part of the key: the short record's empty one is a row of its
  // own. An empty line between them is skipped.
  const FieldsFtg odd = {"TERM02", "L1", "M1", "2024", "20241225", "Tag d'Weihn ", "N"};
  db.WriteFile("in/FTG.txt", LineFtg(kLong) + "\n" + LineFtg(kShort) + LineFtg(odd));
  ASSERT_EQ(db.Run({"in/FTG.txt", "ftg"}).exitCode, 0);
  FieldsFtg oddSent = odd;
  oddSent[5] = "Tag d''Weihn";
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kLong), Insert(kLong), Update(kShort),
                          Insert(kShort), Update(oddSent), Insert(oddSent), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("3 von 3 Datensaetze in MGSSTFTG eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'FTG' wurde importiert!"));
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"TERM01", "L1", "M1", "2024", "20241003", "Einheit", "J", ""},
                          Row{"TERM01", "L1", "M1", "2024", "20241003", "Einheit", "J", "BY"},
                          Row{"TERM02", "L1", "M1", "2024", "20241225", "Tag d'Weihn", "N", ""}));
}

TEST_F(ImportFtgTest, SecondImportMarksAndSweepsEvenInUpdateMode) {
  FieldsFtg changed = kLong;
  changed[5] = "Einheitstag";
  EXPECT_THAT(e2e::JournalOfSecondImport(db, "FTG", LineFtg(kLong) + LineFtg(kShort),
                                         LineFtg(changed), {"UPD"}),
              ElementsAre(kTimestampQuery, kMark, Update(changed), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(changed));
  EXPECT_THAT(db.Query("SELECT CONVERT(char(8), FTGDAT, 112) FROM QVSYSTEM.MGSSTFTG"),
              ElementsAre(::testing::Not(Row{"19000101"})));
}

TEST_F(ImportFtgTest, LengthBetweenTheFormsFailsNamingTheLongLength) {
  // The FTG message, unlike its siblings', ends with a blank.
  const std::string line = LineFtg(kShort).substr(0, 298) + "K\n";  // 300 characters
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "FTG", line, "Falsche Satzlaenge! '" + line + "' Laenge Soll/Ist (303/300) ");
}

TEST_F(ImportFtgTest, EmptyFileSweepsEveryRowEvenInUpdateMode) {
  db.WriteFile("in/FTG.txt", LineFtg(kLong));
  ASSERT_EQ(db.Run({"in/FTG.txt", "FTG"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "FTG", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in MGSSTFTG eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportFtgTest, FailedWriteLogsItsResultOnly) {
  e2e::ExpectFailedWriteIsLoggedAndRetried(db, "FTG", LineFtg(kLong),
                                           "INSERT INTO QVSYSTEM.MGSSTFTG",
                                           "Fehler in SQL_SSTFtg_Write(): 2627");
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(ImportFtgTest, SweepWithoutStatementHandleFailsInsteadOfLeavingMarks) {
  if (db.ThroughTds())
    GTEST_SKIP() << "a statement handle cannot be refused over TDS (FreeTDS allocates it locally)";
  db.WriteFile("in/FTG.txt", LineFtg(kShort));
  ASSERT_EQ(db.Run({"in/FTG.txt", "FTG"}).exitCode, 0);
  // Allocations: 1 timestamp query, 2 mark, 3 UPDATE, 4 INSERT, 5 sweep.
  db.SetControl("fail_stmt_alloc 5\n");
  db.WriteFile("in/FTG.txt", LineFtg(kLong));
  ASSERT_EQ(db.Run({"in/FTG.txt", "FTG"}).exitCode, 0);
  EXPECT_EQ(db.LogMessages().at(2), "Fehler in SQL_SSTFtg_Delete(): -1");
  // The next attempt swept the short record's row.
  EXPECT_THAT(Rows(), ElementsAre(kLong));
}

}  // namespace
