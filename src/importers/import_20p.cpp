// Importer of the 20P file (terminal settings) into QVSYSTEM.MGSST20P.
//
// The 20P file: lines of 272 characters as read, 271 of data and the line
// end. M20Trm, M20Sch and M20Tg1 are right-trimmed; M20Zz2, M20Ofv and the
// value M20Ofb keep their trailing blanks. The first five fields are the key.
//
//   offset  length  column   treatment
//        0     255  M20Trm   trimmed, key
//      255       2  M20Sch   trimmed, key
//      257       1  M20Tg1   trimmed, key
//      258       5  M20Zz2   key
//      263       4  M20Ofv   key
//      267       4  M20Ofb   the one value column
//      271       1  -        the line end
//
// Rows are marked by M20Dat = 1 January 1900; a written row gets the server
// time. "UPD" leaves out the mark and the sweep, so the file only adds and
// changes rows.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb, LineEnd };

constexpr Field kLayout[] = {
    {0, 255, Trim::Yes, "M20Trm"}, {255, 2, Trim::Yes, "M20Sch"},
    {257, 1, Trim::Yes, "M20Tg1"}, {258, 5, Trim::No, "M20Zz2"},
    {263, 4, Trim::No, "M20Ofv"},  {267, 4, Trim::No, "M20Ofb"},
    {271, 1, Trim::No, "line end"},
};

constexpr const char* kMark =
    "UPDATE QvSystem.MGSST20P SET    M20Dat = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QvSystem.MGSST20P SET    M20Ofb = '%s', M20Dat = CURRENT_TIMESTAMP "
    "WHERE  M20Trm = '%s' AND    M20Sch = '%s' AND    M20Tg1 = '%s' AND    "
    "M20Zz2 = '%s' AND    M20Ofv = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QvSystem.MGSST20P    (M20Trm, M20Sch, M20Tg1,     M20Zz2, M20Ofv, "
    "M20Ofb,     M20Dat)  VALUES ('%s', '%s', '%s',          '%s', '%s', '%s',           "
    "CURRENT_TIMESTAMP)";
constexpr const char* kSweep =
    "DELETE FROM Qvsystem.MGSST20P WHERE M20DAT = CONVERT(datetime, '19000101', 112) ";
// clang-format on

db::StatementResult SQL_MGSST20P_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_MGSST20P_Write(db::Session& s, const Record& r) {
  db::StatementResult rc = db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[M20Ofb],
                                             r[M20Trm], r[M20Sch], r[M20Tg1], r[M20Zz2], r[M20Ofv]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::LenientInsert, kInsert, r[M20Trm], r[M20Sch],
                           r[M20Tg1], r[M20Zz2], r[M20Ofv], r[M20Ofb]);
}

db::StatementResult SQL_SST20P_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

constexpr long kLengths[] = {272};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSST20P"};

ImportResult Import20P(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_MGSST20P_SetDelete, "Fehler in SQL_MGSST20P_SetDelete(): %ld",
                When::UnlessUpdateMode},
       .sweep = {SQL_SST20P_Delete, "Fehler in SQL_SST20P_Delete(): %ld", When::UnlessUpdateMode},
       .write = SQL_MGSST20P_Write,
       .writeFailureWithLine = "Fehler in SQL_MGSST20P_Write: %d. Satz: '%s' ",
       .countLine = "%ld von %ld Datensaetze in MGSST20P eingefuegt"});
}

}  // namespace

constexpr FileType kFileType20P = {
    .code = "20P",
    .usage = "20p  f. Datei MGSST20P",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = Import20P,
};

}  // namespace importers
