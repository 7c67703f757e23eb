// Importer of the MDT file (employee detail, "MitarbeiterDetail") into
// QVSYSTEM.MGSSTMDT.
//
// The MDT file comes in two forms, told by the length as read (line end
// included): long records of 106 characters, and short records of 102 that
// stop before MDTFcd (then empty; it is no key, so both forms of a record
// address the same row). Every field is right-trimmed and sent as text;
// MDTDTM is 10 characters wide here, where FTGDTM has 8. The columns are
// named as the UPDATE spells them; the INSERT spells several differently.
//
//   offset  length  column   treatment
//        0       5  MDTLIZ   key
//        5       5  MDTMND   key
//       10      13  MDTASW   key
//       23      10  MDTDTM   key
//       33      33  MDTAbe
//       66      33  MDTSbe
//       99       1  MDTSTS   key
//      100       1  MDTKrt
//      101       3  MDTFcd   long records only (the short one's line end)
//      104       1  -        long records only: not read
//      105       1  -        long records only: the line end
//
// Rows are marked by MDTDAT = 1 January 1900 and swept by the date part;
// the mark and the sweep run whether "UPD" is given or not.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { MDTLIZ, MDTMND, MDTASW, MDTDTM, MDTAbe, MDTSbe, MDTSTS, MDTKrt, MDTFcd };

constexpr Field kLayout[] = {
    {0, 5, Trim::Yes, "MDTLIZ"},   {5, 5, Trim::Yes, "MDTMND"},
    {10, 13, Trim::Yes, "MDTASW"}, {23, 10, Trim::Yes, "MDTDTM"},
    {33, 33, Trim::Yes, "MDTAbe"}, {66, 33, Trim::Yes, "MDTSbe"},
    {99, 1, Trim::Yes, "MDTSTS"},  {100, 1, Trim::Yes, "MDTKrt"},
    {101, 3, Trim::Yes, "MDTFcd"},
};

constexpr const char* kMark =
    "UPDATE QvSystem.MGSSTMDT SET    MDTDAT = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QVSYSTEM.MGSSTMDT SET MDTAbe = '%s', MDTSbe = '%s',     MDTKrt = '%s', "
    "MDTFcd = '%s',     MDTDat = CURRENT_TIMESTAMP WHERE MDTLIZ = '%s' AND   MDTMND = '%s' "
    "AND   MDTASW = '%s' AND   MDTDTM = '%s' AND   MDTSTS = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QVSYSTEM.MGSSTMDT  (MDTLiz, MDTMnd, MDTAsw,   MDTDtm, MDTAbe, MDTSbe,   "
    "MDTSts, MDTKrt, MDTFcd,   MDTDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  "
    "'%s', '%s', '%s',  CURRENT_TIMESTAMP) ";
// The only sweep of its group that names the schema in capitals.
constexpr const char* kSweep =
    "DELETE FROM QVSYSTEM.MGSSTMDT WHERE CONVERT(char(11), MDTDAT, 112) = '19000101' ";
// clang-format on

db::StatementResult SQL_SSTMdt_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_SSTMdt_Write(db::Session& s, const Record& r) {
  db::StatementResult rc =
      db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[MDTAbe], r[MDTSbe], r[MDTKrt],
                        r[MDTFcd], r[MDTLIZ], r[MDTMND], r[MDTASW], r[MDTDTM], r[MDTSTS]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[MDTLIZ], r[MDTMND], r[MDTASW],
                           r[MDTDTM], r[MDTAbe], r[MDTSbe], r[MDTSTS], r[MDTKrt], r[MDTFcd]);
}

db::StatementResult SQL_SSTMdt_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

// The long form first, then the short one.
constexpr long kLengths[] = {106, 102};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSSTMDT"};

ImportResult ImportMdt(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_SSTMdt_SetDelete, "Fehler in SQL_SSTMdt_SetDelete(): %ld", When::Always},
       .sweep = {SQL_SSTMdt_Delete, "Fehler in SQL_SSTMdt_Delete(): %ld", When::Always},
       .write = SQL_SSTMdt_Write,
       .writeFailure = "Fehler in SQL_SSTMdt_Write(): %ld",
       .countLine = "%ld von %ld Datensaetze in MGSSTMDT eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeMdt = {
    .code = "MDT",
    .usage = "mdt  f. Datei MitarbeiterDetail",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportMdt,
};

}  // namespace importers
