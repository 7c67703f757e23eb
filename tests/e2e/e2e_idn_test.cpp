// The IDN file end to end: QVSYSTEM.Qvs301Asw with its two side tables, no
// mark and no sweep, two record forms mixed freely, and the MYSQL rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "e2e/harness.h"
#include "e2e/import_expect.h"

using e2e::Fill;
using e2e::Installation;
using e2e::kTimestampQuery;
using e2e::Row;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

namespace {

// The 24 fields in file order.
enum {
  Num,
  Sto,
  Gvo,
  Gbi,
  Pnr,
  Nam,
  Spr,
  Bkl,
  Pin,
  Cod,
  Grp,
  Liz,
  Mnd,
  Atp,
  Aan,
  Mta,
  Sal,
  Bk2,
  Sta,
  Dat,
  Erf,
  Map,
  Kst,
  Kal
};
using Idn = std::vector<std::string>;
const std::vector<int> kWidths = {50, 8, 8,  8, 8,  50, 5, 5,  32, 5, 5,  5,
                                  5,  2, 50, 2, 10, 5,  5, 14, 50, 1, 30, 3};

// The long form carries AswKal and one more character; the short form ends
// after AswKst.
std::string LineIdn(const Idn& f, bool longForm) {
  return e2e::FixedLine(longForm ? f : Idn(f.begin(), f.begin() + Kal), kWidths);
}

Idn MakeIdn(const std::string& num, const std::string& gvo, const std::string& kst,
            const std::string& kal) {
  return {num,    "STO1",
          gvo,    "19990101",
          "P100", "Erika Muster",
          "DE",   "B1",
          "PIN",  "C1",
          "G1",   "L1",
          "M1",   "A1",
          "Aan",  "T1",
          "1000", "B2",
          "S1",   "20240315083005",
          "HOST", "J",
          kst,    kal};
}

// The values as sent: `f` with AswDat already given as its date text.
std::string StoInsert(const Idn& f) {
  return Fill(
      " INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta, StoErf)  VALUES ('%s', '1', "
      "'QvImport' )",
      {f[Sto]});
}

std::string AwvInsert(const Idn& f) {
  return Fill(
      " INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto, AwvCod,   AwvSta, AwvDat, AwvErf)"
      "  VALUES ('%s', '%s', '%s',  '1', CURRENT_TIMESTAMP, 'QvImport' )",
      {f[Num], f[Sto], f[Cod]});
}

std::string Update(const Idn& f) {
  Idn values = f;
  values.insert(values.end(), {f[Num], f[Gvo], f[Bkl]});
  return Fill(
      " UPDATE  QVSYSTEM.QVS301ASW SET  AswNum = RTRIM('%s'), AswSto = RTRIM('%s'), AswGvo = "
      "convert(datetime,NULLIF('%s',''), 112), AswGbi = convert(datetime,NULLIF('%s',''), 112), "
      "AswPnr = '%s',  AswNam = '%s',  AswSpr = NULLIF('%s',''),  AswBkl = '%s',  AswPin = "
      "'%s',  AswCod = NULLIF('%s',''),  AswGrp = '%s',  AswLiz = '%s',  AswMnd = '%s',  AswAtp "
      "= NULLIF('%s',''),  AswAan = '%s',  AswMta = NULLIF('%s',''),  AswSal = '%s',  AswBk2 = "
      "'%s',  AswSta = '%s',  AswDat = convert(datetime,NULLIF('%s',''), 120),  AswErf = '%s',  "
      "AswMap = '%s',  AswKst = '%s',  AswKal = '%s'  WHERE  AswNum = RTRIM('%s')  AND  AswGvo "
      "= convert(datetime,NULLIF('%s',''), 112)  AND  AswBkl = RTRIM('%s')",
      values);
}

std::string Insert(const Idn& f) {
  return Fill(
      " INSERT INTO QVSYSTEM.QVS301ASW  ( AswNum, AswSto, AswGvo, AswGbi, AswPnr,    AswNam, "
      "AswSpr, AswBkl, AswPin, AswCod,    AswGrp, AswLiz, AswMnd, AswAtp, AswAan,    AswMta, "
      "AswSal, AswBk2, AswSta, AswDat,    AswErf, AswMap )  VALUES ('%s', '%s',  "
      "convert(datetime, NULLIF('%s', ''), 112),  convert(datetime, NULLIF('%s', ''), 112), "
      "'%s', '%s', NULLIF('%s', ''), '%s' , '%s', NULLIF('%s', ''), '%s', '%s' , '%s', "
      "NULLIF('%s', ''), '%s', NULLIF('%s', ''),  '%s', '%s', '%s' , convert(datetime, "
      "NULLIF('%s', ''), 120), '%s', '%s')",
      Idn(f.begin(), f.begin() + Kst));
}

// The four statements of a record whose key is new.
std::vector<std::string> Inserted(const Idn& sent) {
  return {StoInsert(sent), AwvInsert(sent), Update(sent), Insert(sent)};
}

Idn WithDate(Idn f, const std::string& dateText) {
  f[Dat] = dateText;
  return f;
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[9];
  std::strftime(buf, sizeof buf, "%Y%m%d", &local);
  return buf;
}

class ImportIdnTest : public ::testing::Test {
 protected:
  // Every column; dates as yyyymmdd and yyyy-mm-dd hh:mm:ss.
  std::vector<Row> Rows() {
    return db.Query(
        "SELECT AswNum, AswSto, CONVERT(char(8), AswGvo, 112), CONVERT(char(8), AswGbi, 112), "
        "AswPnr, AswNam, AswSpr, AswBkl, AswPin, AswCod, AswGrp, AswLiz, AswMnd, AswAtp, AswAan, "
        "AswMta, AswSal, AswBk2, AswSta, CONVERT(char(19), AswDat, 120), AswErf, AswMap, AswKst, "
        "AswKal FROM QVSYSTEM.Qvs301Asw ORDER BY AswNum, AswGvo");
  }
  Installation db;
};

// A new key is inserted without AswKst and AswKal; the next import updates
// the row and writes them (the short form's AswKal empty). The side rows are
// offered every time; a repeated one fails quietly.
TEST_F(ImportIdnTest, MixedFormsInsertThenUpdateWithKstAndKal) {
  const Idn longRec = MakeIdn("AUSWEIS-L", "20240101", "KST-1", "K01");
  const Idn shortRec = MakeIdn("AUSWEIS-S", "20240102", "KST-2", "");
  db.WriteFile("in/IDN.txt", LineIdn(longRec, true) + LineIdn(shortRec, false));
  ASSERT_EQ(db.Run({"in/IDN.txt", "idn"}).exitCode, 0);
  const Idn longSent = WithDate(longRec, "20240315 08:30:05");
  const Idn shortSent = WithDate(shortRec, "20240315 08:30:05");
  std::vector<std::string> expected = {kTimestampQuery};
  for (const auto& s : Inserted(longSent)) expected.push_back(s);
  for (const auto& s : Inserted(shortSent)) expected.push_back(s);
  EXPECT_EQ(db.TakeJournal(), expected);
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("2 von 2 Datensaetze in Qvs301Asw eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'IDN' wurde importiert!"));
  auto asStored = [](Idn f, const std::string& kst, const std::string& kal) {
    f[Dat] = "2024-03-15 08:30:05";
    f[Kst] = kst;
    f[Kal] = kal;
    return Row(f);
  };
  EXPECT_THAT(Rows(), ElementsAre(asStored(longRec, "<NULL>", "<NULL>"),
                                  asStored(shortRec, "<NULL>", "<NULL>")));

  db.WriteFile("in/IDN.txt", LineIdn(longRec, true) + LineIdn(shortRec, false));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  EXPECT_THAT(
      db.TakeJournal(),
      ElementsAre(kTimestampQuery, StoInsert(longSent), AwvInsert(longSent), Update(longSent),
                  StoInsert(shortSent), AwvInsert(shortSent), Update(shortSent)));
  EXPECT_EQ(db.LogMessages().end()[-2], "2 von 2 Datensaetze in Qvs301Asw eingefuegt");
  EXPECT_THAT(Rows(),
              ElementsAre(asStored(longRec, "KST-1", "K01"), asStored(shortRec, "KST-2", "")));
  EXPECT_THAT(db.Query("SELECT StoNum, StoSta, StoErf FROM QVSYSTEM.QVS113STO"),
              ElementsAre(Row{"STO1", "1", "QvImport"}));
  EXPECT_THAT(db.Query("SELECT AwvNum, AwvSto, AwvCod, AwvSta, AwvErf FROM QVSYSTEM.QVS113Awv "
                       "ORDER BY AwvNum"),
              ElementsAre(Row{"AUSWEIS-L", "STO1", "C1", "1", "QvImport"},
                          Row{"AUSWEIS-S", "STO1", "C1", "1", "QvImport"}));
}

// Without MYSQL an empty AswGvo writes NULL, which the key condition never
// matches: every import inserts the record again.
TEST_F(ImportIdnTest, BlankStoAndBklBecomeZeroAndBlankOptionalFieldsWriteNull) {
  Idn blank = MakeIdn("AUSWEIS-0", "", "", "");
  for (int i : {Sto, Gbi, Spr, Bkl, Cod, Atp, Mta, Dat}) blank[i] = "";
  db.WriteFile("in/IDN.txt", LineIdn(blank, false));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  Idn sent = blank;
  sent[Sto] = "0";
  sent[Bkl] = "0";
  std::vector<std::string> expected = {kTimestampQuery};
  for (const auto& s : Inserted(sent)) expected.push_back(s);
  EXPECT_EQ(db.TakeJournal(), expected);
  db.WriteFile("in/IDN.txt", LineIdn(blank, false));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  Idn stored = sent;
  for (int i : {Gvo, Gbi, Spr, Cod, Atp, Mta, Dat, Kst, Kal}) stored[i] = "<NULL>";
  EXPECT_THAT(Rows(), ElementsAre(Row(stored), Row(stored)));
  EXPECT_THAT(db.Query("SELECT StoNum FROM QVSYSTEM.QVS113STO"), ElementsAre(Row{"0"}));
}

// With every field at full width and a name of 50 apostrophes, the UPDATE is
// 1058 characters plus the 50 the escaping adds: it must reach the database
// whole, and the name must be stored as the file has it.
TEST_F(ImportIdnTest, FullWidthRecordWithApostropheNameSendsTheWholeLongUpdate) {
  Idn full;
  for (int i = Num; i <= Kal; ++i)
    full.push_back(std::string(kWidths[i], static_cast<char>('a' + i)));
  full[Gvo] = "20240101";
  full[Gbi] = "19991231";
  full[Dat] = "20240315083005";
  full[Nam] = std::string(50, '\'');
  db.WriteFile("in/IDN.txt", LineIdn(full, true));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  Idn sent = WithDate(full, "20240315 08:30:05");
  sent[Nam] = std::string(100, '\'');
  auto journal = db.TakeJournal();
  ASSERT_EQ(journal.size(), 5u);
  EXPECT_EQ(journal[3], Update(sent));
  EXPECT_EQ(journal[3].size(), 1108u);
  EXPECT_EQ(journal[4], Insert(sent));
  db.WriteFile("in/IDN.txt", LineIdn(full, true));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  auto names = db.Query("SELECT AswNam, AswKal FROM QVSYSTEM.Qvs301Asw");
  EXPECT_THAT(names, ElementsAre(Row{std::string(50, '\''), full[Kal]}));
}

// A side insert the database rejects is neither logged nor returned; a
// missing statement handle ends the write with -1; the failure message shows
// AswNum as cut, not escaped.
TEST_F(ImportIdnTest, SideInsertFailuresAreIgnoredButOtherFailuresEndTheWrite) {
  if (db.ThroughTds())
    GTEST_SKIP() << "a statement handle cannot be refused over TDS (FreeTDS allocates it locally)";
  // Allocations: 1 timestamp query, 2 STO insert of the first attempt.
  db.SetControl(
      "fail_stmt_alloc 2\n"
      "fail_statement 1205 always QVS113Awv\n"
      "fail_statement 1205 1 UPDATE  QVSYSTEM.QVS301ASW\n");
  db.WriteFile("in/IDN.txt", LineIdn(MakeIdn("O'Brien", "20240101", "", ""), false));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  const std::vector<std::string> log = db.LogMessages();
  const std::vector<std::string> failures = {
      "Fehler in SQL_Qvs301Asw_Write(): -1 - AWN: O'Brien",
      "Fehler in SQL_Qvs301Asw_Write(): 1205 - AWN: O'Brien"};
  std::vector<std::string> logged;
  for (const std::string& m : log)
    if (m.rfind("Fehler in SQL_Qvs301Asw_Write", 0) == 0) logged.push_back(m);
  EXPECT_EQ(logged, failures);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], failures[0]);
  EXPECT_EQ(log.end()[-2], "1 von 1 Datensaetze in Qvs301Asw eingefuegt");
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_EQ(db.Query("SELECT AwvNum FROM QVSYSTEM.QVS113Awv").size(), 0u);
}

// MYSQL in any letter case: an empty AswGvo or one up to 19000000 takes the
// server's date; AswGbi and AswDat up to 19000000 write NULL. Compared as
// text: the trimmed AswDat "19000000" goes, 1 January 1900 stays.
TEST_F(ImportIdnTest, MysqlRuleReplacesDatesUpTo19000000) {
  db.SetIni("DB_SYSTEM", "mySql");
  Idn empty = MakeIdn("AUSWEIS-1", "", "", "");
  empty[Gbi] = "00000000";
  empty[Dat] = "19000000";
  Idn oldest = MakeIdn("AUSWEIS-2", "19000000", "", "");
  oldest[Gbi] = "19000000";
  oldest[Dat] = "19000101000000";
  Idn later = MakeIdn("AUSWEIS-3", "19000101", "", "");
  later[Gbi] = "19000101";
  db.WriteFile("in/IDN.txt",
               LineIdn(empty, false) + LineIdn(oldest, false) + LineIdn(later, false));
  const std::string before = Today();
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}, /*fast=*/false).exitCode, 0);
  auto journal = db.TakeJournal();
  ASSERT_EQ(journal.size(), 13u);
  // The server's date of the run, as the first UPDATE carries it.
  const std::string key = "AswGvo = convert(datetime,NULLIF('";
  const std::string serverDate = journal[3].substr(journal[3].find(key) + key.size(), 8);
  EXPECT_TRUE(serverDate == before || serverDate == Today()) << serverDate;

  Idn emptySent = WithDate(empty, "");
  emptySent[Gvo] = serverDate;
  emptySent[Gbi] = "";
  Idn oldestSent = WithDate(oldest, "19000101 00:00:00");
  oldestSent[Gvo] = serverDate;
  oldestSent[Gbi] = "";
  std::vector<std::string> expected = {kTimestampQuery};
  for (const Idn& sent : {emptySent, oldestSent, WithDate(later, "20240315 08:30:05")})
    for (const auto& s : Inserted(sent)) expected.push_back(s);
  EXPECT_EQ(journal, expected);
  EXPECT_THAT(db.Query("SELECT AswNum, CONVERT(char(8), AswGvo, 112), CONVERT(char(8), AswGbi, "
                       "112), CONVERT(char(19), AswDat, 120) FROM QVSYSTEM.Qvs301Asw "
                       "ORDER BY AswNum"),
              ElementsAre(Row{"AUSWEIS-1", serverDate, "<NULL>", "<NULL>"},
                          Row{"AUSWEIS-2", serverDate, "<NULL>", "1900-01-01 00:00:00"},
                          Row{"AUSWEIS-3", "19000101", "19000101", "2024-03-15 08:30:05"}));
}

// On MYSQL the server's date stands in for a missing AswGvo, a key column:
// a failed query for it (here a deadlock) is logged with the driver's
// diagnostic and the import writes nothing instead of storing NULL; the
// attempt after the reconnect asks again.
TEST_F(ImportIdnTest, MysqlWithoutServerDateWritesNothing) {
  db.SetIni("DB_SYSTEM", "MYSQL");
  const std::string query = "CONVERT(char(11), CURRENT_TIMESTAMP, 104)";
  db.SetControl("fail_statement 1205 1 " + query + "\n");
  db.WriteFile("in/IDN.txt", LineIdn(MakeIdn("AUSWEIS-1", "", "", ""), false));
  const std::string today = "SELECT CONVERT(char(8), CURRENT_TIMESTAMP, 112)";
  const std::string before = db.Query(today)[0][0];
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  const std::string after = db.Query(today)[0][0];
  const std::vector<std::string> log = db.LogMessages();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_THAT(log[0], StartsWith("Serverzeit konnte nicht gelesen werden, Fehler: 1205. ODBC: "));
  EXPECT_THAT(log[0], EndsWith(" (nativer Fehler 1205)"));
  EXPECT_EQ(log[1],
            "Kein Serverdatum fuer die IDN-Datensaetze (DB_SYSTEM MYSQL): Import abgebrochen");
  EXPECT_EQ(log[2], "1. Versuch zur Wiederherstellung der Datenbankverbindung!");
  EXPECT_EQ(log[4], "1 von 1 Datensaetze in Qvs301Asw eingefuegt");
  const auto rows = db.Query("SELECT CONVERT(char(8), AswGvo, 112) FROM QVSYSTEM.Qvs301Asw");
  ASSERT_EQ(rows.size(), 1u);
  // The run's clock goes a thousand times faster than the test's: shortly
  // before midnight its server date is already the next day.
  std::tm next{};
  next.tm_year = std::stoi(after.substr(0, 4)) - 1900;
  next.tm_mon = std::stoi(after.substr(4, 2)) - 1;
  next.tm_mday = std::stoi(after.substr(6, 2)) + 1;
  next.tm_hour = 12;
  std::mktime(&next);
  char dayAfter[16];
  std::strftime(dayAfter, sizeof dayAfter, "%Y%m%d", &next);
  EXPECT_TRUE(rows[0][0] >= before && rows[0][0] <= dayAfter) << rows[0][0];

  // A query that keeps failing ends the run as failed, with nothing written.
  db.SetControl("fail_statement 1205 always " + query + "\n");
  db.WriteFile("in/IDN.txt", LineIdn(MakeIdn("AUSWEIS-2", "", "", ""), false));
  EXPECT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 99);
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(ImportIdnTest, LineOfNeitherLengthFailsNaming368) {
  const std::string good = LineIdn(MakeIdn("AUSWEIS-1", "20240101", "", ""), true);
  const std::string odd = good.substr(0, 365) + "\n";
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "IDN", good + odd, "Falsche Satzlaenge! '" + odd + "' Laenge Soll/Ist (368/366)");
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(ImportIdnTest, EmptyFileChangesNothing) {
  db.WriteFile("in/IDN.txt", LineIdn(MakeIdn("AUSWEIS-1", "20240101", "", ""), false));
  ASSERT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "IDN", {}, {kTimestampQuery},
                                    {"0 von 0 Datensaetze in Qvs301Asw eingefuegt"});
  EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
