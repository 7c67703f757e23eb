// Importer of the MND file ("MNDSTAMM", the clients) into QVSYSTEM.Qvs112Tmd.
//
// The MND file: lines of 130 characters as read, 129 of data and the line
// end. Every field is right-trimmed; TMDLIZ and TMDNUM are the key.
//
//   offset  length  column   treatment
//        0       5  TMDLIZ   key
//        5       5  TMDNUM   key
//       10      50  TMDNAM
//       60       5  TMDSTA   the status; blank writes NULL
//       65      14  TMDDAT   YYYYMMDDHHMMSS, sent as "YYYYMMDD HH:MM:SS" and
//                            converted with style 120; blank writes NULL
//       79      50  TMDERF
//      129       1  -        the line end
//
// Rows are marked by status 4. Each record writes the status its file
// carries, so a record with status 4 is written and swept again, and one
// with a blank status (NULL) survives the sweep. Mark and sweep run in every
// mode: "UPD" changes nothing here.
#include "db/statement.h"
#include "importers/date_text.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { TMDLIZ, TMDNUM, TMDNAM, TMDSTA, TMDDAT, TMDERF };

constexpr Field kLayout[] = {
    {0, 5, Trim::Yes, "TMDLIZ"},   {5, 5, Trim::Yes, "TMDNUM"},
    {10, 50, Trim::Yes, "TMDNAM"}, {60, 5, Trim::Yes, "TMDSTA"},
    {65, 14, Trim::Yes, "TMDDAT"}, {79, 50, Trim::Yes, "TMDERF"},
};

constexpr const char* kMark = "UPDATE QvSystem.Qvs112Tmd SET    TMDSTA = 4";
// The UPDATE and the INSERT begin with a blank; the UPDATE ends with one.
constexpr const char* kUpdate =
    " UPDATE QVSYSTEM.QVS112TMD  SET   TMDNAM = '%s',        TMDSTA = NULLIF('%s','') ,"
    "        TMDDAT = convert(datetime,NULLIF('%s',''),120),        TMDERF = '%s'  "
    "WHERE TMDLIZ = '%s'  AND   TMDNUM = '%s' ";
constexpr const char* kInsert =
    " INSERT INTO QVSYSTEM.QVS112TMD  ( TMDLIZ, TMDNUM, TMDNAM, TMDSTA, TMDDAT, TMDERF )  "
    "VALUES (  '%s', '%s', '%s', NULLIF('%s',''), convert(datetime,NULLIF('%s',''),120),  "
    "'%s' )";
constexpr const char* kSweep = "DELETE FROM QVSYSTEM.QVS112TMD WHERE TMDSTA = 4 ";
// clang-format on

db::StatementResult SQL_Qvs112Tmd_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_Qvs112Tmd_Write(db::Session& s, const Record& r) {
  const std::string date = DateTimeText(r[TMDDAT]);
  db::StatementResult rc = db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[TMDNAM],
                                             r[TMDSTA], date, r[TMDERF], r[TMDLIZ], r[TMDNUM]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[TMDLIZ], r[TMDNUM], r[TMDNAM],
                           r[TMDSTA], date, r[TMDERF]);
}

// Named with Mnd where its siblings say Tmd, in its message too.
db::StatementResult SQL_Qvs112Mnd_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::StatusSweep, kSweep);
}

constexpr long kLengths[] = {130};
// The tables the import writes.
constexpr const char* kTables[] = {"QVS112TMD"};

ImportResult ImportMnd(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_Qvs112Tmd_SetDelete, "Fehler in SQL_Qvs112Tmd_SetDelete(): %ld", When::Always},
       .sweep = {SQL_Qvs112Mnd_Delete, "Fehler in SQL_Qvs112Mnd_Delete(): %ld", When::Always},
       .write = SQL_Qvs112Tmd_Write,
       .writeFailureWithLine = "Fehler in SQL_Qvs112Tmd_Write: %d. Satz: '%s' ",
       .countLine = "%ld von %ld Datensaetze in Qvs112Tmd eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeMnd = {
    .code = "MND",
    .usage = "Mnd  f. Datei MNDSTAMM",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportMnd,
};

}  // namespace importers
