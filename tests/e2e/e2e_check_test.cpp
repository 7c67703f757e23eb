// kranzel-check end to end: the real binary against the deliveries of the
// demo and against the test installation. Each prediction is proved by a
// real import of the same file: a clean file passes and imports, the
// statements equal the stand-in's journal of the import, a bad line is named
// and the import fails; the installation check tells each setup fault apart
// and changes no file and no row.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "e2e/harness.h"
#include "e2e/import_expect.h"
#include "importers/importers.h"
#include "support/files.h"

using e2e::Installation;
using e2e::kTimestampQuery;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Writes the demo's first delivery of every type to in/<T>.txt, plus the
// short forms the samples lack: SLD at 427 and FCD at 66 and 65.
void WriteSamples(Installation& db) {
  std::string script =
      "pad() { printf \"%-${1}.${1}s\" \"$2\"; }; BIN=/nonexistent; DEMO=/nonexistent; "
      "source '" KRANZEL_SOURCE_DIR
      "/scripts/demo_samples.sh'; "
      "for t in \"${DEMO_TYPES[@]}\"; do sample_${t}_1 > in/$t.txt 2>/dev/null; done; "
      "sample_SLD_1 | cut -c1-426 > in/SLDshort.txt";
  ASSERT_EQ(db.RunCommand({"bash", "-c", script}).exitCode, 0);
  db.WriteFile(
      "in/FCDshort.txt",
      e2e::FixedLine({"L0001", "M0001", "010", "KO", "Kurz ohne Typ"}, {5, 5, 3, 2, 50, 5, 5}) +
          e2e::FixedLine({"L0001", "M0001", "011", "GE", "Kurz, Ende im Text"},
                         {5, 5, 3, 2, 49, 5, 5}) +
          e2e::FixedLine({"L0001", "M0001", "012", "DG", "Lang", "T01", "F01"},
                         {5, 5, 3, 2, 50, 5, 5}));
}

// kranzel-check's --statements for `file` equals the journal of kranzel's
// import of it into empty tables (as the check answers for the database),
// after the server timestamp query that kranzel sends first.
void ExpectStatementsEqualJournal(Installation& db, const std::string& file,
                                  const std::string& type,
                                  const std::vector<std::string>& extra = {}) {
  SCOPED_TRACE(file + " " + type);
  std::vector<std::string> argv = {KRANZEL_CHECK_BIN, file, type, "--statements"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  e2e::RunResult check = db.RunCommand(argv);
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_TRUE(db.Exists(file)) << "the check must not rename the delivery";
  std::vector<std::string> predicted = Lines(check.out);
  ASSERT_FALSE(predicted.empty());

  db.TakeJournal();
  EXPECT_EQ(db.Run({file, type}).exitCode, 0);
  std::vector<std::string> journal = db.TakeJournal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.front(), kTimestampQuery);
  journal.erase(journal.begin());
  EXPECT_EQ(predicted, journal);
}

TEST(Check, CleanDeliveryOfEveryTypePassesAndItsStatementsAreTheImports) {
  SKIP_UNDER_WINE_WITHOUT(KRANZEL_CHECK_BIN);
  Installation db;
  WriteSamples(db);
  for (const importers::FileType* fileType : importers::FileTypes()) {
    const std::string type = fileType->code;
    const std::string file = "in/" + type + ".txt";
    if (!db.Exists(file)) {
      // The demo's samples (scripts/demo_samples.sh) lack this type.
      std::cout << "no demo sample of " << type << ": not checked here" << std::endl;
      continue;
    }
    e2e::RunResult r = db.RunCommand({KRANZEL_CHECK_BIN, file, type});
    EXPECT_EQ(r.exitCode, 0) << type << ": " << r.out;
    EXPECT_THAT(r.out, HasSubstr(" records, 0 rejected\n")) << type;
    ExpectStatementsEqualJournal(db, file, type);
  }
  Installation fresh;
  WriteSamples(fresh);
  ExpectStatementsEqualJournal(fresh, "in/SLDshort.txt", "SLD");
  ExpectStatementsEqualJournal(fresh, "in/FCDshort.txt", "fcd");

  // --show: the columns as stored, the 65-character record's text without
  // its line end.
  e2e::RunResult shown = db.RunCommand({KRANZEL_CHECK_BIN, "in/FCDshort.txt", "FCD", "--show"});
  EXPECT_THAT(shown.out, HasSubstr("in/FCDshort.txt:2:\n  FCDLIZ = 'L0001'\n"));
  EXPECT_THAT(shown.out, HasSubstr("  FCDTxt = 'Kurz, Ende im Text'\n  FCDTyp = ''\n"));
}

TEST(Check, IdnStatementsOnMysqlAndMssqlInstallationsAreTheImports) {
  SKIP_UNDER_WINE_WITHOUT(KRANZEL_CHECK_BIN);
  Installation db;
  WriteSamples(db);
  // An AswGvo of "none" takes the server's date on MYSQL installations.
  const std::string idn = db.ReadFile("in/IDN.txt");
  db.WriteFile("in/IDNnone.txt", idn.substr(0, 58) + "00000000" + idn.substr(66));
  ExpectStatementsEqualJournal(db, "in/IDN.txt", "IDN");
  Installation mysql;
  mysql.WriteFile("in/IDNnone.txt", db.ReadFile("in/IDNnone.txt"));
  mysql.SetIni("DB_SYSTEM", "MySql");
  const std::string serverDate =
      mysql.Query("SELECT CONVERT(char(8), CURRENT_TIMESTAMP, 112)")[0][0];
  ExpectStatementsEqualJournal(mysql, "in/IDNnone.txt", "IDN",
                               {"--mysql", "--server-date", serverDate});
}

TEST(Check, RepeatedKeysAreUpdatedAsTheImportUpdatesThem) {
  Installation db;
  WriteSamples(db);
  // A key again, and again in other letter case: the import's UPDATE finds
  // the row it inserted a moment before, and no INSERT follows.
  auto line20P = [](const std::string& trm, const std::string& ofb) {
    return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {ofb, 4}});
  };
  db.WriteFile("in/20Prep.txt", line20P("TERM01", "1700") + line20P("TERM02", "1800") +
                                    line20P("TERM01", "1900") + line20P("term01 ", "2000"));
  ExpectStatementsEqualJournal(db, "in/20Prep.txt", "20P");
  EXPECT_EQ(db.Query("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P ORDER BY M20Trm"),
            (std::vector<e2e::Row>{{"TERM01", "2000"}, {"TERM02", "1800"}}));

  // An IDN record without AswGvo compares as NULL and never finds its row:
  // it is inserted each time; one with AswGvo is inserted, then updated.
  const std::string idn = Lines(db.ReadFile("in/IDN.txt"))[0];
  const std::string noDate = idn.substr(0, 58) + std::string(8, ' ') + idn.substr(66);
  db.WriteFile("in/IDNrep.txt", noDate + "\n" + idn + "\n" + noDate + "\n" + idn + "\n");
  ExpectStatementsEqualJournal(db, "in/IDNrep.txt", "IDN");
  EXPECT_EQ(db.Query("SELECT COUNT(*) FROM QVSYSTEM.Qvs301Asw"), (std::vector<e2e::Row>{{"3"}}));
}

TEST(Check, AFifoIsRefusedAtOnceWithItsReason) {
  SKIP_UNDER_WINE("Windows has no FIFO");
  Installation db;
  ASSERT_EQ(mkfifo((db.workDir + "/in/20P.txt").c_str(), 0600), 0);
  e2e::RunResult r = db.RunCommand({KRANZEL_CHECK_BIN, "in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(db.Stderr(),
            "kranzel-check: cannot open in/20P.txt (not a regular file (a FIFO); kranzel opens "
            "regular files only)\n");
}

TEST(Check, EachKindOfBadLineIsNamedAndTheImportFailsOnIt) {
  SKIP_UNDER_WINE_WITHOUT(KRANZEL_CHECK_BIN);
  Installation db;
  WriteSamples(db);
  const std::string good = Lines(db.ReadFile("in/20P.txt"))[0] + "\n";   // 272 as read
  std::string bad = good;                                                // line 1 fine
  bad += good.substr(0, 261) + "\n";                                     // 2: ten characters short
  bad += good.substr(0, 100) + std::string(1, '\0') + good.substr(101);  // 3: a NUL
  bad += good.substr(0, 271) + "XYZ\n";                                  // 4: three too many
  bad += good.substr(0, 120) + "\n" + good.substr(120);                  // 5+6: a line feed inside
  bad += "\n";                                                           // 7: empty, skipped
  bad += good.substr(0, 271);                                            // 8: no line end
  db.WriteFile("in/20P.txt", bad);

  e2e::RunResult r = db.RunCommand({KRANZEL_CHECK_BIN, "in/20P.txt", "20p"});
  EXPECT_EQ(r.exitCode, 1);
  const std::vector<std::string> expected = {
      "in/20P.txt:2: wrong length 262, expected 272: the line ends at position 262",
      ("in/20P.txt:3: wrong length 100, expected 272: a NUL byte at position 101 ends the record "
       "there"),
      ("in/20P.txt:4: wrong length 275, expected 272: the line goes on past the longest record: "
       "275 characters with its line end"),
      ("in/20P.txt:5: wrong length 121, expected 272: a line feed inside the record at position "
       "121 splits it over lines 5 and 6"),
      ("in/20P.txt:6: wrong length 152, expected 272: the rest of line 5's record, after the line "
       "feed inside it"),
  };
  std::vector<std::string> out = Lines(r.out);
  ASSERT_EQ(out.size(), 7u) << r.out;
  EXPECT_EQ(out[0], expected[0]);
  EXPECT_EQ(out[1], expected[1]);
  EXPECT_EQ(out[2], expected[2]);
  EXPECT_EQ(out[3], expected[3]);
  EXPECT_EQ(out[4], expected[4]);
  EXPECT_EQ(out[5],
            "in/20P.txt:8: wrong length 271, expected 272: no line end: the file ends "
            "inside the record");
  EXPECT_EQ(out.back(), "7 records, 6 rejected");
  EXPECT_TRUE(db.Exists("in/20P.txt"));

  // The import fails on the first of them.
  EXPECT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 99);
  EXPECT_THAT(db.LogMessages(), Contains(HasSubstr("(272/262)")));

  // A UTF-8 character lengthens a line: the byte is named.
  db.WriteFile("in/41P.txt", Lines(db.ReadFile("in/41P.txt"))[0].substr(0, 20) + "\xC3\xA4" +
                                 Lines(db.ReadFile("in/41P.txt"))[0].substr(21, 200) + "\n");
  r = db.RunCommand({KRANZEL_CHECK_BIN, "in/41P.txt", "41P"});
  EXPECT_THAT(r.out, HasSubstr("in/41P.txt:1: wrong length 223, expected 278: the line ends at "
                               "position 223; byte 0xC3 at position 21 is not ASCII"));
  // A whole record with one such character is one byte too long: rejected as
  // the import rejects it, and the line after it keeps its number.
  db.WriteFile("in/20P.txt", "\xC3\xA4" + good.substr(1) + good);
  r = db.RunCommand({KRANZEL_CHECK_BIN, "in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{
                "in/20P.txt:1: wrong length 273, expected 272: the line goes on past the longest "
                "record: 273 characters with its line end; byte 0xC3 at position 1 is not ASCII "
                "(a multi-byte encoding such as UTF-8 lengthens the line)",
                "2 records, 1 rejected"}));
}

TEST(Check, ValuesTheDatabaseRefusesAreNamedAndTheListStopsAtAHundred) {
  SKIP_UNDER_WINE_WITHOUT(KRANZEL_CHECK_BIN);
  Installation db;
  WriteSamples(db);
  std::vector<std::string> mnd = Lines(db.ReadFile("in/MND.txt"));
  mnd[1] = mnd[1].substr(0, 60) + "x1   " + mnd[1].substr(65);           // TMDSTA
  mnd[2] = mnd[2].substr(0, 65) + "20261301120000" + mnd[2].substr(79);  // TMDDAT
  db.WriteFile("in/MND.txt", mnd[0] + "\n" + mnd[1] + "\n" + mnd[2] + "\n");
  e2e::RunResult r = db.RunCommand({KRANZEL_CHECK_BIN, "in/MND.txt", "MND", "--json"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.out, HasSubstr("{\"line\":2,\"kind\":\"value\",\"field\":\"TMDSTA\",\"value\":"
                               "\"x1\",\"reason\":\"not a number (the column is int)\"}"));
  EXPECT_THAT(r.out, HasSubstr("{\"line\":3,\"kind\":\"value\",\"field\":\"TMDDAT\",\"value\":"
                               "\"20261301120000\""));
  EXPECT_THAT(r.out, HasSubstr("\"records\":3,\"rejected\":2"));
  EXPECT_EQ(db.Run({"in/MND.txt", "MND"}).exitCode, 99);

  std::string idn = db.ReadFile("in/IDN.txt");
  db.WriteFile("in/IDN.txt", idn.substr(0, 58) + "20260230" + idn.substr(66));
  r = db.RunCommand({KRANZEL_CHECK_BIN, "in/IDN.txt", "IDN"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.out, HasSubstr("in/IDN.txt:1: AswGvo '20260230': not a date YYYYMMDD"));
  EXPECT_EQ(db.Run({"in/IDN.txt", "IDN"}).exitCode, 99);

  std::string many;
  for (int i = 0; i < 150; ++i) many += "kurz\n";
  db.WriteFile("in/KST.txt", many);
  r = db.RunCommand({KRANZEL_CHECK_BIN, "in/KST.txt", "KST"});
  EXPECT_EQ(r.exitCode, 1);
  std::vector<std::string> out = Lines(r.out);
  ASSERT_EQ(out.size(), 102u);
  EXPECT_THAT(out[99], HasSubstr("in/KST.txt:100: wrong length 5"));
  EXPECT_EQ(out[100], "... and 50 more problems not listed");
  EXPECT_EQ(out[101], "150 records, 150 rejected");

  EXPECT_EQ(db.RunCommand({KRANZEL_CHECK_BIN, "in/KST.txt", "XYZ"}).exitCode, 2);
  EXPECT_EQ(db.RunCommand({KRANZEL_CHECK_BIN, "in/none.txt", "KST"}).exitCode, 2);
}

// Every file of the installation tree but the stand-in's journal and the
// harness's files, by
// content.
std::map<std::string, std::string> Snapshot(const Installation& db) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(db.root)) {
    if (!entry.is_regular_file() || entry.path() == db.journalPath) continue;
    // The harness's own capture of standard error.
    if (entry.path().filename() == "stderr.txt") continue;
    files[entry.path().string()] = support::Slurp(entry.path().string());
  }
  return files;
}

// The status line of `step` in the plain report.
std::string StepLine(const std::string& out, const std::string& step) {
  for (const std::string& line : Lines(out))
    if (line.rfind(step + ": ", 0) == 0) return line;
  return "no step " + step;
}

TEST(Check, InstallationCheckPassesAndTellsEachFaultApartWithoutChangingAnything) {
  SKIP_UNDER_WINE_WITHOUT(KRANZEL_CHECK_BIN);
  Installation db;
  WriteSamples(db);
  db.Run({"in/20P.txt", "20P"});  // a log and some rows to keep
  db.TakeJournal();
  const auto before = Snapshot(db);

  e2e::RunResult r = db.RunCommand({KRANZEL_CHECK_BIN, "--installation"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_THAT(StepLine(r.out, "configuration records"), HasSubstr(": ok"));
  EXPECT_THAT(StepLine(r.out, "connection"), HasSubstr(": ok - as user kranzel to DSN KRANZELDB"));
  EXPECT_THAT(StepLine(r.out, "table QVSYSTEM.O2002TSW"), HasSubstr(": ok"));
  EXPECT_THAT(r.out, HasSubstr("installation ok\n"));
  for (const std::string& statement : db.TakeJournal())
    EXPECT_EQ(statement.rfind("SELECT ", 0), 0u) << statement;

  // Given a directory, and as JSON.
  r = db.RunCommand({KRANZEL_CHECK_BIN, "--installation", db.workDir, "--json"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_THAT(r.out, HasSubstr("{\"step\":\"server timestamp\",\"status\":\"ok\""));
  EXPECT_THAT(r.out, HasSubstr("\"ok\":true}"));

  // The file check neither renames nor writes.
  EXPECT_EQ(db.RunCommand({KRANZEL_CHECK_BIN, "in/41P.txt", "41P", "--statements"}).exitCode, 0);
  EXPECT_EQ(Snapshot(db), before);

  db.SetIni("PASS", "falsch-und-geheim");
  r = db.RunCommand({KRANZEL_CHECK_BIN, "--installation"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(StepLine(r.out, "connection"),
              HasSubstr(": failed - as user kranzel to DSN KRANZELDB: SQLSTATE 28000"));
  EXPECT_THAT(r.out, Not(HasSubstr("falsch-und-geheim")));
  db.SetIni("PASS", "geheim");

  db.SetIni("DATABASE", "NICHTDA");
  r = db.RunCommand({KRANZEL_CHECK_BIN, "--installation"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(StepLine(r.out, "data source"),
              HasSubstr(": failed - DSN NICHTDA is not known to the driver manager"));
  EXPECT_THAT(StepLine(r.out, "connection"), HasSubstr(": skipped"));
  db.SetIni("DATABASE", "KRANZELDB");

  const std::string log = db.root + "/Valdura_php/log";
  fs::rename(log, log + ".weg");
  r = db.RunCommand({KRANZEL_CHECK_BIN, "--installation"});
  EXPECT_EQ(r.exitCode, 1);
  // Each build names the folder as its installations write it.
  EXPECT_THAT(StepLine(r.out, "log directory"),
              HasSubstr(db.UnderWine() ? ": failed - ..\\..\\Valdura_php\\log: No such file"
                                       : ": failed - ../../Valdura_php/log: No such file"));
  EXPECT_THAT(StepLine(r.out, "connection"), HasSubstr(": ok"));
  fs::rename(log + ".weg", log);

  const std::string ini = db.root + "/Files/Valdura.Ini";
  fs::rename(ini, ini + ".alt");
  db.SetIni("LOGIN", "kranzel");
  db.SetIni("PASS", "geheim");
  db.SetIni("DATABASE", "KRANZELDB");
  r = db.RunCommand({KRANZEL_CHECK_BIN, "--installation"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(StepLine(r.out, "configuration records"),
              HasSubstr(": failed - no record for DB_SYSTEM"));
  fs::rename(ini + ".alt", ini);

  db.TakeJournal();
  EXPECT_EQ(db.RunCommand({KRANZEL_CHECK_BIN, "--installation"}).exitCode, 0);
  EXPECT_EQ(Snapshot(db), before);
}

}  // namespace
