// The MDT file end to end: long and short employee detail records in
// MGSSTMDT, marked and swept by date whatever "UPD" says.
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

// MDTLIZ MDTMND MDTASW MDTDTM MDTAbe MDTSbe MDTSTS MDTKrt [MDTFcd]
using FieldsMdt = std::vector<std::string>;

// A long record (9 fields) of 106 characters, or a short one (8) of 102.
std::string LineMdt(const FieldsMdt& f) {
  return e2e::FixedLine(f, {5, 5, 13, 10, 33, 33, 1, 1, 3});
}

const char* kMark = "UPDATE QvSystem.MGSSTMDT SET    MDTDAT = CONVERT(datetime, '19000101', 112) ";
// The schema in capitals, unlike the other sweeps of its group.
const char* kSweep =
    "DELETE FROM QVSYSTEM.MGSSTMDT WHERE CONVERT(char(11), MDTDAT, 112) = '19000101' ";

FieldsMdt Sent(FieldsMdt f) {
  f.resize(9);  // a short record sends MDTFcd empty
  return f;
}

std::string Update(const FieldsMdt& given) {
  FieldsMdt f = Sent(given);
  return Fill(
      "UPDATE QVSYSTEM.MGSSTMDT SET MDTAbe = '%s', MDTSbe = '%s',     MDTKrt = '%s', MDTFcd = "
      "'%s',     MDTDat = CURRENT_TIMESTAMP WHERE MDTLIZ = '%s' AND   MDTMND = '%s' AND   "
      "MDTASW = '%s' AND   MDTDTM = '%s' AND   MDTSTS = '%s' ",
      {f[4], f[5], f[7], f[8], f[0], f[1], f[2], f[3], f[6]});
}

std::string Insert(const FieldsMdt& given) {
  return Fill(
      "INSERT INTO QVSYSTEM.MGSSTMDT  (MDTLiz, MDTMnd, MDTAsw,   MDTDtm, MDTAbe, MDTSbe,   "
      "MDTSts, MDTKrt, MDTFcd,   MDTDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', "
      "'%s', '%s',  CURRENT_TIMESTAMP) ",
      Sent(given));
}

class ImportMdtTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT MDTLIZ, MDTMND, MDTASW, MDTDTM, MDTAbe, MDTSbe, MDTSTS, MDTKrt, MDTFcd "
        "FROM QVSYSTEM.MGSSTMDT ORDER BY MDTASW");
  }
  Installation db;
};

const FieldsMdt kLong = {"L1", "M1", "ASW1", "01.02.2024", "Abe", "Sbe", "A", "K", "F1"};
const FieldsMdt kShortSameKey = {"L1", "M1", "ASW1", "01.02.2024", "Abe2", "Sbe2", "A", "J"};
const FieldsMdt kShortOther = {"L1", "M1", "ASW2", "01.02.2024", "O'Abe", "", "A", ""};

TEST_F(ImportMdtTest, ShortRecordEmptiesTheLongOnesFunctionCode) {
  // MDTFcd is no key: the later short record updates the long one's row and
  // sets it to the empty text.
  db.WriteFile("in/MDT.txt", LineMdt(kLong) + LineMdt(kShortSameKey) + LineMdt(kShortOther));
  ASSERT_EQ(db.Run({"in/MDT.txt", "mdt"}).exitCode, 0);
  FieldsMdt otherSent = kShortOther;
  otherSent[4] = "O''Abe";
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kLong), Insert(kLong),
                          Update(kShortSameKey), Update(otherSent), Insert(otherSent), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("3 von 3 Datensaetze in MGSSTMDT eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'MDT' wurde importiert!"));
  EXPECT_THAT(Rows(), ElementsAre(Sent(kShortSameKey), Sent(kShortOther)));
}

TEST_F(ImportMdtTest, SecondImportMarksAndSweepsEvenInUpdateMode) {
  FieldsMdt changed = kLong;
  changed[8] = "F2";
  EXPECT_THAT(e2e::JournalOfSecondImport(db, "MDT", LineMdt(kLong) + LineMdt(kShortOther),
                                         LineMdt(changed), {"UPD"}),
              ElementsAre(kTimestampQuery, kMark, Update(changed), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(changed));
}

TEST_F(ImportMdtTest, LengthBetweenTheFormsFailsNamingTheLongLength) {
  const std::string line = LineMdt(kLong).substr(0, 102) + "\n";  // 103 characters
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "MDT", line, "Falsche Satzlaenge! '" + line + "' Laenge Soll/Ist (106/103)");
}

TEST_F(ImportMdtTest, EmptyFileSweepsEveryRowEvenInUpdateMode) {
  db.WriteFile("in/MDT.txt", LineMdt(kLong));
  ASSERT_EQ(db.Run({"in/MDT.txt", "MDT"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "MDT", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in MGSSTMDT eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportMdtTest, FailedWriteLogsItsResultOnly) {
  e2e::ExpectFailedWriteIsLoggedAndRetried(db, "MDT", LineMdt(kLong),
                                           "INSERT INTO QVSYSTEM.MGSSTMDT",
                                           "Fehler in SQL_SSTMdt_Write(): 2627");
  EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
