// The BKL file end to end: QVSYSTEM.Qvs301Awb, marked by status 4; "UPD"
// leaves out the mark but not the sweep.
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

// AwbAsw AwbBkl AwbLiz AwbMnd, then the one AwbZuv character.
struct Bkl {
  std::string asw, bkl, liz, mnd, zuv;
};

std::string LineBkl(const Bkl& b) {
  return e2e::Record({{b.asw, 50}, {b.bkl, 5}, {b.liz, 5}, {b.mnd, 5}, {b.zuv, 1}});
}

const char* kMark = "UPDATE  QVSYSTEM.Qvs301Awb    SET  AwbSta = 4";
const char* kSweep = "DELETE  FROM Qvsystem.Qvs301Awb  WHERE  AwbSta = 4";

// `zuv` is the number sent for AwbZuv; the status sent is always 1.
std::string Update(const Bkl& b, const std::string& zuv) {
  return Fill(" UPDATE  QVSYSTEM.QVS301AWB SET  AwbZuv = " + zuv +
                  ",  AwbSta = 1,  AwbDat = CURRENT_TIMESTAMP  WHERE  AwbAsw = '%s'  AND  "
                  "AwbBkl = '%s'  AND  AwbLiz = '%s' AND  AwbMnd = '%s'",
              {b.asw, b.bkl, b.liz, b.mnd});
}

std::string Insert(const Bkl& b, const std::string& zuv) {
  return Fill(
      " INSERT INTO QVSYSTEM.QVS301AWB  ( AwbAsw, AwbBkl, AwbLiz, AwbMnd,    AwbZuv, "
      "AwbSta, AwbDat )  VALUES ('%s', '%s', '%s', '%s', " +
          zuv + ", 1, CURRENT_TIMESTAMP)",
      {b.asw, b.bkl, b.liz, b.mnd});
}

class ImportBklTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT AwbAsw, AwbBkl, AwbLiz, AwbMnd, AwbZuv, AwbSta "
        "FROM QVSYSTEM.Qvs301Awb ORDER BY AwbAsw, AwbBkl");
  }
  void Seed(const std::string& asw, int status) {
    db.Exec(
        "INSERT INTO QVSYSTEM.Qvs301Awb (AwbAsw, AwbBkl, AwbLiz, AwbMnd, AwbZuv, AwbSta, "
        "AwbDat) VALUES ('" +
        asw + "', 'B1', 'L1', 'M1', 5, " + std::to_string(status) + ", CURRENT_TIMESTAMP)");
  }
  Installation db;
};

const Bkl kSeven = {"AUSWEIS-1", "B1", "L1", "M1", "7"};
const Bkl kBlank = {"AUSWEIS-2", "B1", "L1", "M1", " "};
const Bkl kLetter = {"AUSWEIS-3", "B2", "L1", "M1", "x"};

TEST_F(ImportBklTest, FirstImportInsertsWithAwbZuvConvertedLikeAtol) {
  db.WriteFile("in/BKL.txt", LineBkl(kSeven) + LineBkl(kBlank) + LineBkl(kLetter));
  ASSERT_EQ(db.Run({"in/BKL.txt", "BKL"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kSeven, "7"), Insert(kSeven, "7"),
                          Update(kBlank, "0"), Insert(kBlank, "0"), Update(kLetter, "0"),
                          Insert(kLetter, "0"), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("3 von 3 Datensaetze in Qvs301Awb eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'BKL' wurde importiert!"));
  EXPECT_THAT(Rows(), ElementsAre(Row{"AUSWEIS-1", "B1", "L1", "M1", "7", "1"},
                                  Row{"AUSWEIS-2", "B1", "L1", "M1", "0", "1"},
                                  Row{"AUSWEIS-3", "B2", "L1", "M1", "0", "1"}));
}

TEST_F(ImportBklTest, SecondImportUpdatesAndSweepsWhatTheFileDropped) {
  db.WriteFile("in/BKL.txt", LineBkl(kSeven));
  ASSERT_EQ(db.Run({"in/BKL.txt", "BKL"}).exitCode, 0);
  db.TakeJournal();
  Seed("ALT", 2);
  const Bkl changed = {"AUSWEIS-1", "B1", "L1", "M1", "3"};
  db.WriteFile("in/BKL.txt", LineBkl(changed));
  ASSERT_EQ(db.Run({"in/BKL.txt", "BKL"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, kMark, Update(changed, "3"), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(Row{"AUSWEIS-1", "B1", "L1", "M1", "3", "1"}));
}

// Without a mark, the sweep deletes only the rows an earlier import left at
// status 4; an empty file then changes nothing else.
TEST_F(ImportBklTest, UpdateModeDeletesOnlyRowsAlreadyAtStatusFour) {
  Seed("BEHALTEN", 1);
  Seed("LIEGENGEBLIEBEN", 4);
  db.WriteFile("in/BKL.txt", LineBkl(kSeven));
  ASSERT_EQ(db.Run({"in/BKL.txt", "BKL", "UPD"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, Update(kSeven, "7"), Insert(kSeven, "7"), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(Row{"AUSWEIS-1", "B1", "L1", "M1", "7", "1"},
                                  Row{"BEHALTEN", "B1", "L1", "M1", "5", "1"}));

  Seed("NOCHMAL", 4);
  e2e::ExpectEmptyFileCountsNothing(db, "BKL", {"UPD"}, {kTimestampQuery, kSweep},
                                    {"0 von 0 Datensaetze in Qvs301Awb eingefuegt"});
  EXPECT_EQ(Rows().size(), 2u);
  e2e::ExpectEmptyFileCountsNothing(db, "BKL", {}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in Qvs301Awb eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportBklTest, LastLineWithoutLineEndHasTheWrongLength) {
  const std::string cut = LineBkl(kBlank).substr(0, 66);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "BKL", LineBkl(kSeven) + cut,
      "Falsche Satzlaenge! '" + cut + "' Laenge Soll/Ist (67/66)");
  EXPECT_THAT(Rows(), ElementsAre(Row{"AUSWEIS-1", "B1", "L1", "M1", "7", "1"}));
}

TEST_F(ImportBklTest, FailedWriteLogsTheResultOnlyAndIsRetried) {
  e2e::ExpectFailedWriteIsLoggedAndRetried(db, "BKL", LineBkl(kSeven),
                                           "INSERT INTO QVSYSTEM.QVS301AWB",
                                           "Fehler in SQL_Qvs301Awb_Write(): 2627");
  EXPECT_EQ(db.LogMessages().end()[-2], "1 von 1 Datensaetze in Qvs301Awb eingefuegt");
  EXPECT_THAT(Rows(), ElementsAre(Row{"AUSWEIS-1", "B1", "L1", "M1", "7", "1"}));
}

}  // namespace
