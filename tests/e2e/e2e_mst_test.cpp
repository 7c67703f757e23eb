// The MST file end to end: long and short employee status records in
// MGSSTMST, marked and swept by date whatever "UPD" says.
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

// MSTLIZ MSTMND MSTASW MSTSTS MSTVBI MSTAbe MSTSbe MSTKrt MSTKST MSTVon MSTAbt
// [MSTUh1 MSTFcd]
using FieldsMst = std::vector<std::string>;

// A long record (13 fields) of 211 characters, or a short one (11) of 203.
std::string LineMst(const FieldsMst& f) {
  return e2e::FixedLine(f, {5, 5, 13, 1, 23, 33, 33, 1, 50, 8, 30, 4, 3});
}

const char* kMark = "UPDATE QvSystem.MGSSTMST SET    MSTDAT = CONVERT(datetime, '19000101', 112) ";
const char* kSweep =
    "DELETE FROM Qvsystem.MGSSTMST WHERE CONVERT(char(11), MSTDAT, 112) = '19000101' ";

FieldsMst Sent(FieldsMst f) {
  f.resize(13);  // a short record sends MSTUh1 and MSTFcd empty
  return f;
}

std::string Update(const FieldsMst& given) {
  FieldsMst f = Sent(given);
  return Fill(
      "UPDATE QVSYSTEM.MGSSTMST  SET    MSTAbe = '%s', MSTSbe = '%s', MSTKrt = '%s', MSTVon = "
      "'%s', MSTAbt = '%s', MSTUh1 = '%s', MSTFcd = '%s', MSTDat = CURRENT_TIMESTAMP WHERE  "
      "MSTLIZ = '%s' AND    MSTMND = '%s' AND    MSTASW = '%s' AND    MSTVBI = '%s' AND    "
      "MSTKST = '%s' AND    MSTSTS = '%s' ",
      {f[5], f[6], f[7], f[9], f[10], f[11], f[12], f[0], f[1], f[2], f[4], f[8], f[3]});
}

std::string Insert(const FieldsMst& given) {
  return Fill(
      "INSERT INTO QVSYSTEM.MGSSTMST  (MSTLiz, MSTMnd, MSTAsw,  MSTSts, MSTVbi, MSTAbe,  "
      "MSTSbe, MSTKrt, MSTKst,  MSTVon, MSTAbt, MstUh1,   MSTFcd,   MSTDat)  VALUES ('%s', "
      "'%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  '%s',  "
      "CURRENT_TIMESTAMP) ",
      Sent(given));
}

class ImportMstTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT MSTLIZ, MSTMND, MSTASW, MSTSTS, MSTVBI, MSTAbe, MSTSbe, MSTKrt, MSTKST, MSTVon, "
        "MSTAbt, MSTUh1, MSTFcd FROM QVSYSTEM.MGSSTMST ORDER BY MSTASW");
  }
  Installation db;
};

const FieldsMst kLong = {"L1", "M1",   "ASW1",     "A",   "VB1",  "Abe", "Sbe",
                         "K",  "KST1", "20240101", "Abt", "0800", "F1"};
const FieldsMst kShortSameKey = {"L1",   "M1", "ASW1", "A",        "VB1", "Abe2",
                                 "Sbe2", "K",  "KST1", "20240201", "Abt2"};
const FieldsMst kShortOther = {"L1",  "M1", "ASW2", "A",        "VB'1", "Abe",
                               "Sbe", "",   "KST1", "20240101", "Abt"};

TEST_F(ImportMstTest, ShortRecordEmptiesTheLongOnesTrailingFields) {
  // MSTUh1 and MSTFcd are no key: the later short record updates the long
  // one's row and sets both to the empty text.
  db.WriteFile("in/MST.txt", LineMst(kLong) + LineMst(kShortSameKey) + LineMst(kShortOther));
  ASSERT_EQ(db.Run({"in/MST.txt", "mst"}).exitCode, 0);
  FieldsMst otherSent = kShortOther;
  otherSent[4] = "VB''1";
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kLong), Insert(kLong),
                          Update(kShortSameKey), Update(otherSent), Insert(otherSent), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("3 von 3 Datensaetze in MGSSTMST eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'MST' wurde importiert!"));
  EXPECT_THAT(Rows(), ElementsAre(Sent(kShortSameKey), Sent(kShortOther)));
}

TEST_F(ImportMstTest, SecondImportMarksAndSweepsEvenInUpdateMode) {
  FieldsMst changed = kLong;
  changed[11] = "0900";
  EXPECT_THAT(e2e::JournalOfSecondImport(db, "MST", LineMst(kLong) + LineMst(kShortOther),
                                         LineMst(changed), {"UPD"}),
              ElementsAre(kTimestampQuery, kMark, Update(changed), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(changed));
}

TEST_F(ImportMstTest, LengthBetweenTheFormsFailsNamingTheLongLength) {
  const std::string line = LineMst(kLong).substr(0, 209) + "\n";  // 210 characters
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "MST", line, "Falsche Satzlaenge! '" + line + "' Laenge Soll/Ist (211/210)");
}

TEST_F(ImportMstTest, EmptyFileSweepsEveryRowEvenInUpdateMode) {
  db.WriteFile("in/MST.txt", LineMst(kLong));
  ASSERT_EQ(db.Run({"in/MST.txt", "MST"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "MST", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in MGSSTMST eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportMstTest, FailedWriteLogsItsResultOnly) {
  e2e::ExpectFailedWriteIsLoggedAndRetried(db, "MST", LineMst(kLong),
                                           "INSERT INTO QVSYSTEM.MGSSTMST",
                                           "Fehler in SQL_SSTMst_Write(): 2627");
  EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
