// Importer of the FTG file (holidays, "Feiertag") into QVSYSTEM.MGSSTFTG.
//
// The FTG file comes in two forms, told by the length as read (line end
// included): long records of 303 characters, and short records of 299 that
// stop before FTGKAL (which is then empty, in the key as everywhere else).
// Every field is right-trimmed and sent as text.
//
//   offset  length  column   treatment
//        0     255  FTGTRM   key
//      255       5  FTGLIZ   key
//      260       5  FTGMND   key
//      265       4  FTGJHR
//      269       8  FTGDTM   key
//      277      20  FTGTXT
//      297       1  FTGKRT
//      298       3  FTGKAL   key; long records only (the short one's line end)
//      301       1  -        long records only: not read
//      302       1  -        long records only: the line end
//
// Rows are marked by FTGDAT = 1 January 1900 and swept by the date part;
// the mark and the sweep run whether "UPD" is given or not.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { FTGTRM, FTGLIZ, FTGMND, FTGJHR, FTGDTM, FTGTXT, FTGKRT, FTGKAL };

constexpr Field kLayout[] = {
    {0, 255, Trim::Yes, "FTGTRM"}, {255, 5, Trim::Yes, "FTGLIZ"},
    {260, 5, Trim::Yes, "FTGMND"}, {265, 4, Trim::Yes, "FTGJHR"},
    {269, 8, Trim::Yes, "FTGDTM"}, {277, 20, Trim::Yes, "FTGTXT"},
    {297, 1, Trim::Yes, "FTGKRT"}, {298, 3, Trim::Yes, "FTGKAL"},
};

constexpr const char* kMark =
    "UPDATE QvSystem.MGSSTFTG SET    FTGDAT = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QVSYSTEM.MGSSTFTG    SET FTGJHR = '%s', FTGTXT = '%s',  FTGKRT = '%s',  "
    "FTGDAT = CURRENT_TIMESTAMP WHERE  FTGTRM = '%s' AND    FTGDTM = '%s' AND    "
    "FTGLIZ = '%s' AND    FTGMND = '%s' AND    FTGKAL = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QVSYSTEM.MGSSTFTG  (FTGTrm, FTGLiz, FTGMnd,   FTGJhr, FTGDtm, FTGTxt,   "
    "FTGKrt, FTGKal,   FTGDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s',  "
    "CURRENT_TIMESTAMP) ";
constexpr const char* kSweep =
    "DELETE FROM Qvsystem.MGSSTFTG WHERE CONVERT(char(11), FTGDAT, 112) = '19000101' ";
// clang-format on

db::StatementResult SQL_SSTFtg_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_SSTFtg_Write(db::Session& s, const Record& r) {
  db::StatementResult rc =
      db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[FTGJHR], r[FTGTXT], r[FTGKRT],
                        r[FTGTRM], r[FTGDTM], r[FTGLIZ], r[FTGMND], r[FTGKAL]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[FTGTRM], r[FTGLIZ], r[FTGMND],
                           r[FTGJHR], r[FTGDTM], r[FTGTXT], r[FTGKRT], r[FTGKAL]);
}

db::StatementResult SQL_SSTFtg_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

// The long form first, then the short one.
constexpr long kLengths[] = {303, 299};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSSTFTG"};

ImportResult ImportFtg(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       // Unlike its siblings, the FTG length message ends with a blank.
       .lengthMessage = "Falsche Satzlaenge! '%s' Laenge Soll/Ist (%ld/%ld) ",
       .fields = kLayout,
       .mark = {SQL_SSTFtg_SetDelete, "Fehler in SQL_SSTFtg_SetDelete(): %ld", When::Always},
       .sweep = {SQL_SSTFtg_Delete, "Fehler in SQL_SSTFtg_Delete(): %ld", When::Always},
       .write = SQL_SSTFtg_Write,
       .writeFailure = "Fehler in SQL_SSTFtg_Write(): %ld",
       .countLine = "%ld von %ld Datensaetze in MGSSTFTG eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeFtg = {
    .code = "FTG",
    .usage = "ftg  f. Datei Feiertag",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportFtg,
};

}  // namespace importers
