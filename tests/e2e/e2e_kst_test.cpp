// The KST file end to end: QVSYSTEM.Qvs120Kid, marked by status 4, with the
// statement forms that write null for a blank KidNum.
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

struct Kst {
  std::string kst, mnd, liz, num, sys, txt, erf;
};

std::string LineKst(const Kst& k) {
  return e2e::Record(
      {{k.kst, 30}, {k.mnd, 5}, {k.liz, 5}, {k.num, 7}, {k.sys, 7}, {k.txt, 30}, {k.erf, 50}});
}

const char* kMark = "UPDATE  QVSYSTEM.Qvs120Kid    SET  KidSta = 4";
const char* kSweep = "DELETE  FROM Qvsystem.Qvs120Kid  WHERE  KidSta = 4";

// The pair with '%s' for KidNum, or with null when it is blank.
std::string Update(const Kst& k) {
  const std::string set = k.num.empty() ? "KidNum = null," : "KidNum = '" + k.num + "',";
  return Fill(" UPDATE  QVSYSTEM.QVS120KID SET  " + set +
                  "  KidSys = '%s',  KidTxt = '%s',  KidSta = 1,  KidErf = '%s'  WHERE  "
                  "KidKst = '%s'  AND  KidMnd = '%s'  AND  KidLiz = '%s'",
              {k.sys, k.txt, k.erf, k.kst, k.mnd, k.liz});
}

std::string Insert(const Kst& k) {
  const std::string num = k.num.empty() ? "null" : "'" + k.num + "'";
  return Fill(
      " INSERT INTO QVSYSTEM.QVS120KID  ( KidKst, KidMnd, KidLiz, KidNum,    KidSys, "
      "KidTxt, KidSta, KidErf )  VALUES ('%s', '%s', '%s', " +
          num + ", '%s', '%s', 1, '%s' )",
      {k.kst, k.mnd, k.liz, k.sys, k.txt, k.erf});
}

class ImportKstTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT KidKst, KidMnd, KidLiz, KidNum, KidSys, KidTxt, KidSta, KidErf "
        "FROM QVSYSTEM.Qvs120Kid ORDER BY KidKst");
  }
  Installation db;
};

const Kst kWithNum = {"KST-100", "M1", "L1", "4711", "SYS", "Lager", "HOST"};
const Kst kNoNum = {"KST-200", "M1", "L1", "", "SYS", "Buero", "HOST"};

TEST_F(ImportKstTest, FirstImportInsertsWithStatusOneAndNullForBlankKidNum) {
  db.WriteFile("in/KST.txt", LineKst(kWithNum) + LineKst(kNoNum));
  ASSERT_EQ(db.Run({"in/KST.txt", "Kst"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kWithNum), Insert(kWithNum),
                          Update(kNoNum), Insert(kNoNum), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("2 von 2 Datensaetze in Qvs120Kid eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'KST' wurde importiert!"));
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"KST-100", "M1", "L1", "4711", "SYS", "Lager", "1", "HOST"},
                          Row{"KST-200", "M1", "L1", "<NULL>", "SYS", "Buero", "1", "HOST"}));
}

// Mark and sweep run with "UPD" too; a blank KidNum writes NULL over the
// value the row had.
TEST_F(ImportKstTest, SecondImportBlanksKidNumAndSweepsEvenInUpdateMode) {
  db.WriteFile("in/KST.txt", LineKst(kWithNum) + LineKst(kNoNum));
  ASSERT_EQ(db.Run({"in/KST.txt", "KST"}).exitCode, 0);
  db.TakeJournal();
  const Kst blanked = {"KST-100", "M1", "L1", "", "SYS2", "Lager'Nord", "EDV"};
  db.WriteFile("in/KST.txt", LineKst(blanked));
  ASSERT_EQ(db.Run({"in/KST.txt", "KST", "UPD"}).exitCode, 0);
  Kst blankedSent = blanked;
  blankedSent.txt = "Lager''Nord";
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, kMark, Update(blankedSent), kSweep));
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"KST-100", "M1", "L1", "<NULL>", "SYS2", "Lager'Nord", "1", "EDV"}));
}

TEST_F(ImportKstTest, LastLineWithoutLineEndHasTheWrongLength) {
  const std::string cut = LineKst(kNoNum).substr(0, 134);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "KST", LineKst(kWithNum) + cut,
      "Falsche Satzlaenge! '" + cut + "' Laenge Soll/Ist (135/134)");
}

TEST_F(ImportKstTest, EmptyFileDeletesEveryRow) {
  db.WriteFile("in/KST.txt", LineKst(kWithNum));
  ASSERT_EQ(db.Run({"in/KST.txt", "KST"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "KST", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in Qvs120Kid eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportKstTest, FailedWriteLogsTheResultOnlyAndIsRetried) {
  e2e::ExpectFailedWriteIsLoggedAndRetried(db, "KST", LineKst(kNoNum),
                                           "INSERT INTO QVSYSTEM.QVS120KID",
                                           "Fehler in SQL_Qvs120Kid_Write(): 2627");
  EXPECT_EQ(db.LogMessages().end()[-2], "1 von 1 Datensaetze in Qvs120Kid eingefuegt");
  EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
