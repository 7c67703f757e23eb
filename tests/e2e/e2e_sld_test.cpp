// The SLD file end to end: QVSYSTEM.O2002TSW, marked by '*DEL' in TswSto;
// the form decided by the first line; the INSERT without TswAmp after the
// server's 207.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/harness.h"
#include "e2e/import_expect.h"

using e2e::Fill;
using e2e::Installation;
using e2e::kTimestampQuery;
using e2e::Row;
using ::testing::ElementsAre;

namespace {

// The 31 fields in file order: TswIdn TswSto Tswliz TswMnd TswW01..TswW16
// TswF01..TswF10 TswAmp.
using Sld = std::vector<std::string>;

const std::vector<int>& Widths() {
  static const std::vector<int> widths = [] {
    std::vector<int> w = {50, 8, 5, 5, 8};
    w.insert(w.end(), 15, 10);
    w.insert(w.end(), 10, 20);
    w.push_back(5);
    return w;
  }();
  return widths;
}

const std::string& Columns() {
  static const std::string columns = [] {
    std::string c = "TswIdn, TswSto, Tswliz, TswMnd";
    for (int n = 1; n <= 16; ++n) c += (n < 10 ? ", TswW0" : ", TswW") + std::to_string(n);
    for (int n = 1; n <= 10; ++n) c += (n < 10 ? ", TswF0" : ", TswF") + std::to_string(n);
    return c + ", TswAmp";
  }();
  return columns;
}

// A record whose value columns are told apart by `tag`.
Sld MakeSld(const std::string& idn, const std::string& sto, const std::string& tag,
            const std::string& amp) {
  Sld s = {idn, sto, "L" + tag, "M" + tag};
  for (int n = 1; n <= 16; ++n) s.push_back(tag + "," + std::to_string(n));
  for (int n = 1; n <= 10; ++n) s.push_back("Feld " + tag + " " + std::to_string(n));
  s.push_back(amp);
  return s;
}

// The long form carries TswAmp, the short form ends before it.
std::string LineSld(const Sld& s, bool longForm) {
  std::vector<std::pair<std::string, int>> fields;
  for (std::size_t i = 0; i < (longForm ? 31u : 30u); ++i) fields.emplace_back(s[i], Widths()[i]);
  return e2e::Record(fields);
}

const char* kMark = "UPDATE QvSystem.O2002TSW SET    TSWSTO = '*DEL' ";
const char* kSweep = "DELETE FROM QVSYSTEM.O2002TSW WHERE TSWSTO = '*DEL' ";

std::string Update(const Sld& s) {
  Sld values(s.begin() + 1, s.end());
  values.push_back(s[0]);
  return Fill(
      "UPDATE QVSYSTEM.O2002TSW SET  TswSto = RTRIM('%s'),  Tswliz = RTRIM('%s'), TswMnd = "
      "RTRIM('%s'),  TswW01 = '%s', TswW02 = '%s',  TswW03 = '%s', TswW04 = '%s',  TswW05 = "
      "'%s', TswW06 = '%s',  TswW07 = '%s', TswW08 = '%s',  TswW09 = '%s', TswW10 = '%s',  "
      "TswW11 = '%s', TswW12 = '%s',  TswW13 = '%s', TswW14 = '%s',  TswW15 = '%s', TswW16 = "
      "'%s',  TswF01 = '%s', TswF02 = '%s',  TswF03 = '%s', TswF04 = '%s',  TswF05 = '%s', "
      "TswF06 = '%s',  TswF07 = '%s', TswF08 = '%s',  TswF09 = '%s', TswF10 = '%s',  TswAmp = "
      "'%s' WHERE TswIdn = RTRIM('%s') ",
      values);
}

const char* kInsertColumns =
    " INSERT INTO QVSYSTEM.O2002TSW  (TswIdn, TswSto, Tswliz, TswMnd,   TswW01, TswW02, TswW03, "
    "TswW04,   TswW05, TswW06, TswW07, TswW08,   TswW09, TswW10, TswW11, TswW12,   TswW13, "
    "TswW14, TswW15, TswW16,   TswF01, TswF02, TswF03, TswF04,   TswF05, TswF06, TswF07, "
    "TswF08,   TswF09, TswF10";
const char* kInsertValues =
    " )  VALUES (RTRIM('%s'), RTRIM('%s'), RTRIM('%s'), RTRIM('%s'),  '%s', '%s', '%s', '%s',  "
    "'%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', "
    "'%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s'";

std::string InsertWithAmp(const Sld& s) {
  return Fill(std::string(kInsertColumns) + ", TswAmp" + kInsertValues + ", '%s' ) ", s);
}

std::string InsertWithoutAmp(const Sld& s) {
  return Fill(std::string(kInsertColumns) + kInsertValues + " ) ", Sld(s.begin(), s.end() - 1));
}

class ImportSldTest : public ::testing::Test {
 protected:
  std::vector<Row> Rows() {
    return db.Query("SELECT " + Columns() + " FROM QVSYSTEM.O2002TSW ORDER BY TswIdn");
  }
  Installation db;
};

const Sld kA = MakeSld("SALDO-A", "STO1", "a", "AMP1");
const Sld kB = MakeSld("SALDO-B", "STO2", "b", "AMP2");

TEST_F(ImportSldTest, LongFormFirstImportInsertsEveryColumn) {
  db.WriteFile("in/SLD.txt", LineSld(kA, true) + LineSld(kB, true));
  ASSERT_EQ(db.Run({"in/SLD.txt", "sld"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, kMark, Update(kA), InsertWithAmp(kA),
                                            Update(kB), InsertWithAmp(kB), kSweep));
  EXPECT_THAT(db.LogMessages(),
              ElementsAre("2 von 2 Datensaetze in O2002TSW eingefuegt",
                          "Die Schnittstellendatei vom Dateityp 'SLD' wurde importiert!"));
  EXPECT_THAT(Rows(), ElementsAre(Row(kA), Row(kB)));
}

// Mark and sweep run with "UPD" too. A record that brings '*DEL' itself is
// written and swept; a blank TswSto survives. The short form writes TswAmp
// as the empty text, in the UPDATE and in the INSERT.
TEST_F(ImportSldTest, ShortFormSecondImportUpdatesAndSweepsEvenInUpdateMode) {
  const Sld c = MakeSld("SALDO-C", "STO3", "c", "AMP3");
  db.WriteFile("in/SLD.txt", LineSld(kA, true) + LineSld(kB, true) + LineSld(c, true));
  ASSERT_EQ(db.Run({"in/SLD.txt", "SLD"}).exitCode, 0);
  db.TakeJournal();

  const Sld a2 = MakeSld("SALDO-A", "STO9", "x'y", "");
  const Sld c2 = MakeSld("SALDO-C", "*DEL", "c", "");
  const Sld d = MakeSld("SALDO-D", "", "d", "");
  db.WriteFile("in/SLD.txt", LineSld(a2, false) + LineSld(c2, false) + LineSld(d, false));
  ASSERT_EQ(db.Run({"in/SLD.txt", "SLD", "UPD"}).exitCode, 0);
  Sld a2Sent = MakeSld("SALDO-A", "STO9", "x''y", "");
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, kMark, Update(a2Sent), Update(c2),
                                            Update(d), InsertWithAmp(d), kSweep));
  EXPECT_EQ(db.LogMessages().end()[-2], "3 von 3 Datensaetze in O2002TSW eingefuegt");
  EXPECT_THAT(Rows(), ElementsAre(Row(a2), Row(d)));
}

TEST_F(ImportSldTest, LongFirstLineMakesAShortLineLaterFail) {
  const std::string shortLine = LineSld(kB, false);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "SLD", LineSld(kA, true) + shortLine,
      "Falsche Satzlaenge! '" + shortLine + "' Laenge Soll/Ist (432/427)");
  EXPECT_THAT(Rows(), ElementsAre(Row(kA)));
}

// A file of the short form reads 427 characters at a time: a long line later
// goes on past that and is a wrong length, not a record of its first 427
// characters with TswAmp left empty.
TEST_F(ImportSldTest, ShortFirstLineMakesALongLineLaterAWrongLength) {
  const Sld b = MakeSld("SALDO-B", "STO2", "b", "WXYZ5");
  const std::string longLine = LineSld(b, true);
  db.WriteFile("in/SLD.txt", LineSld(kA, false) + longLine);
  EXPECT_EQ(db.Run({"in/SLD.txt", "SLD"}).exitCode, 99);
  auto journal = db.TakeJournal();
  ASSERT_GE(journal.size(), 5u);
  EXPECT_THAT(std::vector<std::string>(journal.begin(), journal.begin() + 5),
              ElementsAre(kTimestampQuery, kMark, Update(MakeSld("SALDO-A", "STO1", "a", "")),
                          InsertWithAmp(MakeSld("SALDO-A", "STO1", "a", "")), kMark));
  auto log = db.LogMessages();
  ASSERT_GE(log.size(), 1u);
  EXPECT_EQ(log[0],
            "Falsche Satzlaenge! '" + longLine.substr(0, 427) + "' Laenge Soll/Ist (427/432)");
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(ImportSldTest, LastLineWithoutLineEndHasTheWrongLength) {
  const std::string cut = LineSld(kB, true).substr(0, 431);
  e2e::ExpectWrongLengthFailsEveryAttempt(
      db, "SLD", LineSld(kA, true) + cut,
      "Falsche Satzlaenge! '" + cut + "' Laenge Soll/Ist (432/431)");
}

TEST_F(ImportSldTest, EmptyFileDeletesEveryRow) {
  db.WriteFile("in/SLD.txt", LineSld(kA, true));
  ASSERT_EQ(db.Run({"in/SLD.txt", "SLD"}).exitCode, 0);
  e2e::ExpectEmptyFileCountsNothing(db, "SLD", {"UPD"}, {kTimestampQuery, kMark, kSweep},
                                    {"0 von 0 Datensaetze in O2002TSW eingefuegt"});
  EXPECT_TRUE(Rows().empty());
}

// The server answers 207 to the INSERT with TswAmp: the record goes in at
// once without it, and so does every later INSERT of the process, the next
// attempt's too; a new process tries TswAmp again.
TEST_F(ImportSldTest, InsertWithoutTswAmpAfter207LastsForTheProcess) {
  const Sld c = MakeSld("SALDO-C", "STO3", "c", "AMP3");
  db.SetControl(
      "fail_statement 207 1 TswF10, TswAmp )\n"
      "fail_statement 2627 1 VALUES (RTRIM('SALDO-C')\n");
  db.WriteFile("in/SLD.txt", LineSld(kA, true) + LineSld(kB, true) + LineSld(c, true));
  ASSERT_EQ(db.Run({"in/SLD.txt", "SLD"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(), ElementsAre(kTimestampQuery, kMark, Update(kA), InsertWithAmp(kA),
                                            InsertWithoutAmp(kA), Update(kB), InsertWithoutAmp(kB),
                                            Update(c), InsertWithoutAmp(c), kMark, Update(kA),
                                            Update(kB), Update(c), InsertWithoutAmp(c), kSweep));
  auto log = db.LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "Fehler in SQL_O2002Tsw_Write(): 2627");
  EXPECT_EQ(log.end()[-2], "3 von 3 Datensaetze in O2002TSW eingefuegt");
  // The UPDATE always sets TswAmp; a row inserted without it has NULL there.
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].back(), "AMP1");
  EXPECT_EQ(rows[1].back(), "AMP2");
  EXPECT_EQ(rows[2].back(), "<NULL>");

  db.SetControl("");
  const Sld d = MakeSld("SALDO-D", "STO4", "d", "AMP4");
  db.WriteFile("in/SLD.txt", LineSld(d, true));
  ASSERT_EQ(db.Run({"in/SLD.txt", "SLD"}).exitCode, 0);
  EXPECT_THAT(db.TakeJournal(),
              ElementsAre(kTimestampQuery, kMark, Update(d), InsertWithAmp(d), kSweep));
  EXPECT_THAT(Rows(), ElementsAre(Row(d)));
}

// On a database whose O2002TSW lacks TswAmp the UPDATE, which always names
// it, already fails with 207: the INSERT fallback is never reached and every
// attempt fails.
TEST_F(ImportSldTest, TableWithoutTswAmpFailsTheUpdate) {
  std::ifstream in(std::string(KRANZEL_SOURCE_DIR) + "/schema/qvsystem.sql");
  std::ostringstream ddl;
  for (std::string line; std::getline(in, line);)
    if (line.find("TswAmp") == std::string::npos) ddl << line << "\n";
  const std::string ddlPath = db.odbcDir + "/without_tswamp.sql";
  std::ofstream(ddlPath) << ddl.str();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db.dbPath + suffix);
  ASSERT_EQ(std::system((std::string(STANDIN_TOOL) + " create '" + db.dbPath + "' '" + ddlPath +
                         "' >/dev/null")
                            .c_str()),
            0);

  db.WriteFile("in/SLD.txt", LineSld(kA, true));
  EXPECT_EQ(db.Run({"in/SLD.txt", "SLD"}).exitCode, 99);
  auto journal = db.TakeJournal();
  ASSERT_GE(journal.size(), 3u);
  EXPECT_EQ(journal[2], Update(kA));
  EXPECT_EQ(std::count(journal.begin(), journal.end(), InsertWithoutAmp(kA)), 0);
  auto log = db.LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "Fehler in SQL_O2002Tsw_Write(): 207");
  EXPECT_EQ(std::count(log.begin(), log.end(), "Fehler in SQL_O2002Tsw_Write(): 207"), 5);
  EXPECT_EQ(log.back(),
            "Die Schnittstellendatei vom Dateityp 'SLD' konnte nicht importiert werden!");
}

}  // namespace
