// The MND file end to end: QVSYSTEM.Qvs112Tmd, marked by its status column.
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

// TMDLIZ TMDNUM TMDNAM TMDSTA TMDDAT TMDERF, as the file carries them.
struct Mnd {
  std::string liz, num, nam, sta, dat, erf;
};

std::string LineMnd(const Mnd& m) {
  return e2e::Record({{m.liz, 5}, {m.num, 5}, {m.nam, 50}, {m.sta, 5}, {m.dat, 14}, {m.erf, 50}});
}

const char* kMark = "UPDATE QvSystem.Qvs112Tmd SET    TMDSTA = 4";
const char* kSweep = "DELETE FROM QVSYSTEM.QVS112TMD WHERE TMDSTA = 4 ";

// `date` is the text sent for TMDDAT ("YYYYMMDD HH:MM:SS" or empty).
std::string Update(const Mnd& m, const std::string& date) {
  return Fill(
      " UPDATE QVSYSTEM.QVS112TMD  SET   TMDNAM = '%s',        TMDSTA = NULLIF('%s','') ,"
      "        TMDDAT = convert(datetime,NULLIF('%s',''),120),        TMDERF = '%s'  "
      "WHERE TMDLIZ = '%s'  AND   TMDNUM = '%s' ",
      {m.nam, m.sta, date, m.erf, m.liz, m.num});
}

std::string Insert(const Mnd& m, const std::string& date) {
  return Fill(
      " INSERT INTO QVSYSTEM.QVS112TMD  ( TMDLIZ, TMDNUM, TMDNAM, TMDSTA, TMDDAT, TMDERF )"
      "  VALUES (  '%s', '%s', '%s', NULLIF('%s',''), "
      "convert(datetime,NULLIF('%s',''),120),  '%s' )",
      {m.liz, m.num, m.nam, m.sta, date, m.erf});
}

class ImportMndTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT TMDLIZ, TMDNUM, TMDNAM, TMDSTA, CONVERT(char(19), TMDDAT, 120), "
        "TMDERF FROM QVSYSTEM.Qvs112Tmd ORDER BY TMDLIZ, TMDNUM");
  }
  Installation db;
};

const Mnd kFull = {"L1", "00001", "Mandant Eins", "1", "20240315083005", "HOST"};
const Mnd kBlank = {"L1", "00002", "Mandant Zwei", "", "", "HOST"};

TEST_F(ImportMndTest, FirstImportInsertsWithDateTextAndNullForBlankStatusAndDate) {
  db.WriteFile("in/MND.txt", LineMnd(kFull) + LineMnd(kBlank));
  ASSERT_EQ(db.Run({"in/MND.txt", "mndstamm"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(kFull, "20240315 08:30:05"),
                          Insert(kFull, "20240315 08:30:05"), Update(kBlank, ""),
                          Insert(kBlank, ""), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("2 von 2 Datensaetze in Qvs112Tmd eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'MND' wurde importiert!"));
  // The blank status is NULL, not 4, so that row survives the sweep.
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"L1", "00001", "Mandant Eins", "1", "2024-03-15 08:30:05", "HOST"},
                          Row{"L1", "00002", "Mandant Zwei", "<NULL>", "<NULL>", "HOST"}));
}

// Mark and sweep run with "UPD" too: the file's own status 4 and a dropped
// key both end in the sweep.
TEST_F(ImportMndTest, SecondImportUpdatesAndSweepsStatusFourEvenInUpdateMode) {
  const Mnd gone = {"L2", "00009", "Weg", "2", "", "HOST"};
  db.WriteFile("in/MND.txt", LineMnd(kFull) + LineMnd(kBlank) + LineMnd(gone));
  ASSERT_EQ(db.Run({"in/MND.txt", "MND"}).exitCode, 0);
  db.TakeJournal();

  const Mnd renamed = {"L1", "00001", "O'Neil & Co", "3", "19991231235959", "EDV"};
  const Mnd retired = {"L1", "00002", "Mandant Zwei", "4", "", "HOST"};
  db.WriteFile("in/MND.txt", LineMnd(renamed) + LineMnd(retired));
  ASSERT_EQ(db.Run({"in/MND.txt", "MND", "UPD"}).exitCode, 0);
  Mnd renamedSent = renamed;
  renamedSent.nam = "O''Neil & Co";
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(renamedSent, "19991231 23:59:59"),
                          Update(retired, ""), kSweep));
  EXPECT_EQ(db.LogMessages().end()[-2], "2 von 2 Datensaetze in Qvs112Tmd eingefuegt");
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"L1", "00001", "O'Neil & Co", "3", "1999-12-31 23:59:59", "EDV"}));
}

TEST_F(ImportMndTest, LastLineWithoutLineEndFailsAndLeavesRowsMarked) {
  db.Exec(
      "INSERT INTO QVSYSTEM.Qvs112Tmd (TMDLIZ, TMDNUM, TMDNAM, TMDSTA, TMDERF) "
      "VALUES ('L9', '00001', 'Alt', 1, 'HOST')");
  const std::string cut = LineMnd(kBlank).substr(0, 129);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "MND", LineMnd(kFull) + cut,
      "Falsche Satzlaenge! '" + cut + "' Laenge Soll/Ist (130/129)");
  // No sweep ran: the row the file does not carry stays, marked.
  EXPECT_THAT(db.Query("SELECT TMDLIZ, TMDSTA FROM QVSYSTEM.Qvs112Tmd ORDER BY TMDLIZ"),
              ElementsAre(Row{"L1", "1"}, Row{"L9", "4"}));
}

TEST_F(ImportMndTest, EmptyFileDeletesEveryRowWithOrWithoutUpdateMode) {
  db.WriteFile("in/MND.txt", LineMnd(kFull));
  ASSERT_EQ(db.Run({"in/MND.txt", "MND"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "MND", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in Qvs112Tmd eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

TEST_F(ImportMndTest, NonNumericStatusIsRejectedWithTheDatabasesError) {
  const Mnd bad = {"L1", "00003", "Falsch", "AB", "", "HOST"};
  const std::string line = LineMnd(bad);
  db.WriteFile("in/MND.txt", LineMnd(kFull) + line);
  EXPECT_EQ(db.Run({"in/MND.txt", "MND"}).exitCode, 99);
  // The message carries the line with its line end: two log lines.
  auto log = db.LogMessages();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "Fehler in SQL_Qvs112Tmd_Write: 245. Satz: '" + line.substr(0, 129));
  EXPECT_EQ(log[1], "' ");
  EXPECT_EQ(log.back(),
            "Die Schnittstellendatei vom Dateityp 'MND' konnte nicht importiert werden!");
  EXPECT_THAT(Rows(),
              ElementsAre(Row{"L1", "00001", "Mandant Eins", "1", "2024-03-15 08:30:05", "HOST"}));
}

}  // namespace
