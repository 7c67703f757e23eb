// Importer of the MST file (employee status, "MitarbeiterStatus") into
// QVSYSTEM.MGSSTMST.
//
// The MST file comes in two forms, told by the length as read (line end
// included): long records of 211 characters, and short records of 203 that
// stop before MSTUh1 and MSTFcd (both then empty). Every field is
// right-trimmed and sent as text. The columns are named as the UPDATE spells
// them; the INSERT spells several differently.
//
//   offset  length  column   treatment
//        0       5  MSTLIZ   key
//        5       5  MSTMND   key
//       10      13  MSTASW   key
//       23       1  MSTSTS   key
//       24      23  MSTVBI   key
//       47      33  MSTAbe
//       80      33  MSTSbe
//      113       1  MSTKrt
//      114      50  MSTKST   key
//      164       8  MSTVon
//      172      30  MSTAbt
//      202       4  MSTUh1   long records only (the short one's line end)
//      206       3  MSTFcd   long records only
//      209       1  -        long records only: not read
//      210       1  -        long records only: the line end
//
// Rows are marked by MSTDAT = 1 January 1900 and swept by the date part;
// the mark and the sweep run whether "UPD" is given or not.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum {
  MSTLIZ, MSTMND, MSTASW, MSTSTS, MSTVBI, MSTAbe, MSTSbe,
  MSTKrt, MSTKST, MSTVon, MSTAbt, MSTUh1, MSTFcd,
};

constexpr Field kLayout[] = {
    {0, 5, Trim::Yes, "MSTLIZ"},    {5, 5, Trim::Yes, "MSTMND"},
    {10, 13, Trim::Yes, "MSTASW"},  {23, 1, Trim::Yes, "MSTSTS"},
    {24, 23, Trim::Yes, "MSTVBI"},  {47, 33, Trim::Yes, "MSTAbe"},
    {80, 33, Trim::Yes, "MSTSbe"},  {113, 1, Trim::Yes, "MSTKrt"},
    {114, 50, Trim::Yes, "MSTKST"}, {164, 8, Trim::Yes, "MSTVon"},
    {172, 30, Trim::Yes, "MSTAbt"}, {202, 4, Trim::Yes, "MSTUh1"},
    {206, 3, Trim::Yes, "MSTFcd"},
};

constexpr const char* kMark =
    "UPDATE QvSystem.MGSSTMST SET    MSTDAT = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QVSYSTEM.MGSSTMST  SET    MSTAbe = '%s', MSTSbe = '%s', MSTKrt = '%s', "
    "MSTVon = '%s', MSTAbt = '%s', MSTUh1 = '%s', MSTFcd = '%s', MSTDat = CURRENT_TIMESTAMP "
    "WHERE  MSTLIZ = '%s' AND    MSTMND = '%s' AND    MSTASW = '%s' AND    MSTVBI = '%s' "
    "AND    MSTKST = '%s' AND    MSTSTS = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QVSYSTEM.MGSSTMST  (MSTLiz, MSTMnd, MSTAsw,  MSTSts, MSTVbi, MSTAbe,  "
    "MSTSbe, MSTKrt, MSTKst,  MSTVon, MSTAbt, MstUh1,   MSTFcd,   MSTDat)  VALUES ('%s', "
    "'%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  '%s',  "
    "CURRENT_TIMESTAMP) ";
constexpr const char* kSweep =
    "DELETE FROM Qvsystem.MGSSTMST WHERE CONVERT(char(11), MSTDAT, 112) = '19000101' ";
// clang-format on

db::StatementResult SQL_SSTMst_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_SSTMst_Write(db::Session& s, const Record& r) {
  db::StatementResult rc = db::ExecFormatted(
      s, db::StatementKind::Update, kUpdate, r[MSTAbe], r[MSTSbe], r[MSTKrt], r[MSTVon], r[MSTAbt],
      r[MSTUh1], r[MSTFcd], r[MSTLIZ], r[MSTMND], r[MSTASW], r[MSTVBI], r[MSTKST], r[MSTSTS]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[MSTLIZ], r[MSTMND], r[MSTASW],
                           r[MSTSTS], r[MSTVBI], r[MSTAbe], r[MSTSbe], r[MSTKrt], r[MSTKST],
                           r[MSTVon], r[MSTAbt], r[MSTUh1], r[MSTFcd]);
}

db::StatementResult SQL_SSTMst_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

// The long form first, then the short one.
constexpr long kLengths[] = {211, 203};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSSTMST"};

ImportResult ImportMst(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_SSTMst_SetDelete, "Fehler in SQL_SSTMst_SetDelete(): %ld", When::Always},
       .sweep = {SQL_SSTMst_Delete, "Fehler in SQL_SSTMst_Delete(): %ld", When::Always},
       .write = SQL_SSTMst_Write,
       .writeFailure = "Fehler in SQL_SSTMst_Write(): %ld",
       .countLine = "%ld von %ld Datensaetze in MGSSTMST eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeMst = {
    .code = "MST",
    .usage = "mst  f. Datei MitarbeiterStatus",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportMst,
};

}  // namespace importers
