// The FCD file end to end: long and short function code records in
// MGSSTFCD, marked and swept by date whatever "UPD" says; the short record
// at 66 characters, and at 65 with its line end inside FCDTxt.
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

// FCDLIZ FCDMND FCDNUM FCDKrt FCDTxt [FCDTyp FCDFcd]
using FieldsFcd = std::vector<std::string>;

// A long record (7 fields) of 77 characters, or a short one (5) of 66.
std::string LineFcd(const FieldsFcd& f) { return e2e::FixedLine(f, {5, 5, 3, 2, 50, 5, 5}); }

// A short record of 65 characters: the line end in FCDTxt's last position.
std::string CutShortLineFcd(const FieldsFcd& f) {
  return e2e::FixedLine(f, {5, 5, 3, 2, 49, 5, 5});
}

const char* kMark = "UPDATE QvSystem.MGSSTFCD SET    FCDDAT = CONVERT(datetime, '19000101', 112) ";
const char* kSweep =
    "DELETE FROM Qvsystem.MGSSTFCD WHERE CONVERT(char(11), FCDDAT, 112) = '19000101' ";

FieldsFcd Sent(FieldsFcd f) {
  f.resize(7);  // a short record sends FCDTyp and FCDFcd empty
  return f;
}

std::string Update(const FieldsFcd& given) {
  FieldsFcd f = Sent(given);
  return Fill(
      "UPDATE QVSYSTEM.MGSSTFCD SET    FCDKrt = '%s', FCDTxt = '%s', FCDTyp = '%s',        "
      "FCDFcd = '%s', FCDDat = CURRENT_TIMESTAMP WHERE FCDLIZ = '%s' AND   FCDMND = '%s' AND   "
      "FCDNUM = '%s' ",
      {f[3], f[4], f[5], f[6], f[0], f[1], f[2]});
}

std::string Insert(const FieldsFcd& given) {
  return Fill(
      "INSERT INTO QVSYSTEM.MGSSTFCD  (FCDLiz, FCDMnd, FCDNum,  FCDKrt, FCDTxt, FCDTyp,  "
      "FCDFcd, FcdDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', CURRENT_TIMESTAMP) ",
      Sent(given));
}

class ImportFcdTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT FCDLIZ, FCDMND, FCDNUM, FCDKrt, FCDTxt, FCDTyp, FCDFcd "
        "FROM QVSYSTEM.MGSSTFCD ORDER BY FCDNUM");
  }
  Installation db;
};

const FieldsFcd kLong = {"L1", "M1", "001", "K", "Kommen", "T1", "F1"};
const FieldsFcd kShortSameKey = {"L1", "M1", "001", "K", "Kommen am Morgen"};

TEST_F(ImportFcdTest, ShortRecordsOf66And65CharactersStoreNoLineFeed) {
  const FieldsFcd cutShort = {"L1", "M1", "002", "G", "Geh'n"};
  const FieldsFcd cutShortFull = {"L1", "M1", "003", "P", std::string(49, 'p')};
  db.WriteFile("in/FCD.txt", LineFcd(kLong) + LineFcd(kShortSameKey) + CutShortLineFcd(cutShort) +
                                 CutShortLineFcd(cutShortFull));
  ASSERT_EQ(db.Run({"in/FCD.txt", "fcd"}).exitCode, 0);
  FieldsFcd cutSent = cutShort;
  cutSent[4] = "Geh''n";
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, kMark, Update(kLong), Insert(kLong),
                                            Update(kShortSameKey), Update(cutSent), Insert(cutSent),
                                            Update(cutShortFull), Insert(cutShortFull), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("4 von 4 Datensaetze in MGSSTFCD eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'FCD' wurde importiert!"));
  // A line feed stored in a description would show here as a row broken in two.
  EXPECT_THAT(Rows(), ElementsAre(Sent(kShortSameKey), Sent(cutShort), Sent(cutShortFull)));
}

TEST_F(ImportFcdTest, SecondImportMarksAndSweepsEvenInUpdateMode) {
  const FieldsFcd other = {"L1", "M1", "002", "G", "Gehen"};
  FieldsFcd changed = kLong;
  changed[6] = "F2";
  EXPECT_THAT(e2e::JournalOfSecondImport(db, "FCD", LineFcd(kLong) + LineFcd(other),
                                         LineFcd(changed), {"UPD"}),
              ElementsAre(kTimestampQuery, kMark, Update(changed), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(changed));
}

TEST_F(ImportFcdTest, LengthBetweenTheFormsFailsNamingTheLongLength) {
  const std::string line = LineFcd(kLong).substr(0, 66) + "\n";  // 67 characters
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "FCD", line, "Falsche Satzlaenge! '" + line + "' Laenge Soll/Ist (77/67)");
}

TEST_F(ImportFcdTest, EmptyFileSweepsEveryRowEvenInUpdateMode) {
  db.WriteFile("in/FCD.txt", LineFcd(kLong));
  ASSERT_EQ(db.Run({"in/FCD.txt", "FCD"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "FCD", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in MGSSTFCD eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportFcdTest, FailedWriteLogsItsResultOnly) {
  e2e::ExpectFailedWriteIsLoggedAndRetried(db, "FCD", LineFcd(kLong),
                                           "INSERT INTO QVSYSTEM.MGSSTFCD",
                                           "Fehler in SQL_SSTFcd_Write(): 2627");
  EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
