// Importer of the 41P file (terminal settings) into QVSYSTEM.MGSST41P.
//
// The 41P file: lines of 278 characters as read, 277 of data and the line
// end. Every data field is right-trimmed; the first seven are the key, so a
// record that differs from a row in M41Von alone is a new row.
//
//   offset  length  column   treatment
//        0     255  M41Trm   key
//      255       3  M41Fir   key
//      258       3  M41Zpl   key
//      261       2  M41Wnr   key
//      263       5  M41Zzo   key
//      268       1  M41Tnr   key
//      269       4  M41Von   key
//      273       4  M41Bis   the one value column
//      277       1  -        the line end
//
// Rows are marked by M41Dat = 1 January 1900; a written row gets the server
// time. "UPD" leaves out the mark and the sweep.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { M41Trm, M41Fir, M41Zpl, M41Wnr, M41Zzo, M41Tnr, M41Von, M41Bis, LineEnd };

constexpr Field kLayout[] = {
    {0, 255, Trim::Yes, "M41Trm"}, {255, 3, Trim::Yes, "M41Fir"},
    {258, 3, Trim::Yes, "M41Zpl"}, {261, 2, Trim::Yes, "M41Wnr"},
    {263, 5, Trim::Yes, "M41Zzo"}, {268, 1, Trim::Yes, "M41Tnr"},
    {269, 4, Trim::Yes, "M41Von"}, {273, 4, Trim::Yes, "M41Bis"},
    {277, 1, Trim::No, "line end"},
};

constexpr const char* kMark =
    "UPDATE QvSystem.MGSST41P SET    M41Dat = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QvSystem.MGSST41P SET    M41Bis = '%s', M41Dat = CURRENT_TIMESTAMP WHERE  "
    "M41Trm = '%s' AND    M41Fir = '%s' AND    M41Zpl = '%s' AND    M41Wnr = '%s' AND    "
    "M41Zzo = '%s' AND    M41Tnr = '%s' AND    M41Von = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QvSystem.MGSST41P    (M41Trm, M41Fir, M41Zpl,     M41Wnr, M41Zzo, "
    "M41Tnr,     M41Von, M41Bis, M41Dat)  VALUES ('%s', '%s', '%s',          '%s', '%s', "
    "'%s',          '%s', '%s', CURRENT_TIMESTAMP)";
// Two blanks after WHERE and none at the end, unlike its siblings.
constexpr const char* kSweep =
    "DELETE FROM Qvsystem.MGSST41P WHERE  M41Dat = CONVERT(datetime, '19000101', 112)";
// clang-format on

db::StatementResult SQL_MGSST41P_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_MGSST41P_Write(db::Session& s, const Record& r) {
  db::StatementResult rc =
      db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[M41Bis], r[M41Trm], r[M41Fir],
                        r[M41Zpl], r[M41Wnr], r[M41Zzo], r[M41Tnr], r[M41Von]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::LenientInsert, kInsert, r[M41Trm], r[M41Fir],
                           r[M41Zpl], r[M41Wnr], r[M41Zzo], r[M41Tnr], r[M41Von], r[M41Bis]);
}

db::StatementResult SQL_SST41P_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

constexpr long kLengths[] = {278};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSST41P"};

ImportResult Import41P(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_MGSST41P_SetDelete, "Fehler in SQL_MGSST41P_SetDelete(): %ld",
                When::UnlessUpdateMode},
       .sweep = {SQL_SST41P_Delete, "Fehler in SQL_SST41P_Delete(): %ld", When::UnlessUpdateMode},
       .write = SQL_MGSST41P_Write,
       .writeFailureWithLine = "Fehler in SQL_MGSST41P_Write: %d. Satz: '%s' ",
       .countLine = "%ld von %ld Datensaetze in MGSST41P eingefuegt"});
}

}  // namespace

constexpr FileType kFileType41P = {
    .code = "41P",
    .usage = "41p  f. Datei MGSST41P",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = Import41P,
};

}  // namespace importers
