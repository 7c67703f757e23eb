// Importer of the 35P file (terminal settings) into QVSYSTEM.MGSST35P, with
// the "*ZKO" records routed to QVSYSTEM.QVS401ZLS.
//
// The 35P file: lines of 282 characters as read, 281 of data and the line
// end. Every data field is right-trimmed; the first six are the key.
//
//   offset  length  column   treatment
//        0     255  M35Trm   key; ZLSTRM of a "*ZKO" record
//      255       3  M35Fir   key
//      258       5  M35Bkl   key; "*ZKO" routes the record to QVS401ZLS
//      263       2  M35Les   key; ZLSLES of a "*ZKO" record
//      265       2  M35Wle   key
//      267       3  M35Wpl   key
//      270       5  M35Zko   value; the new ZLSZKO of a "*ZKO" record
//      275       5  M35Zzo   value
//      280       1  M35Bch   value
//      281       1  -        the line end
//
// A record whose trimmed M35Bkl is exactly "*ZKO" (case counts, and so does
// a leading blank) sets ZLSZKO of the QVS401ZLS rows with its M35Trm and
// M35Les and is not written to MGSST35P; one that finds no such row is
// logged and the import goes on. Such records are counted as lines but not
// as records written; a second count line tells the rows updated.
//
// Rows are marked by M35Dat = 1 January 1900; a written row gets the server
// time. "UPD" leaves out the mark and the sweep.
#include "db/statement.h"
#include "importers/importers.h"
#include "log/log.h"

namespace importers {

namespace {

// clang-format off
enum { M35Trm, M35Fir, M35Bkl, M35Les, M35Wle, M35Wpl, M35Zko, M35Zzo, M35Bch, LineEnd };

constexpr Field kLayout[] = {
    {0, 255, Trim::Yes, "M35Trm"}, {255, 3, Trim::Yes, "M35Fir"},
    {258, 5, Trim::Yes, "M35Bkl"}, {263, 2, Trim::Yes, "M35Les"},
    {265, 2, Trim::Yes, "M35Wle"}, {267, 3, Trim::Yes, "M35Wpl"},
    {270, 5, Trim::Yes, "M35Zko"}, {275, 5, Trim::Yes, "M35Zzo"},
    {280, 1, Trim::Yes, "M35Bch"}, {281, 1, Trim::No, "line end"},
};

constexpr const char* kZkoBkl = "*ZKO";

constexpr const char* kMark =
    "UPDATE QvSystem.MGSST35P SET    M35Dat = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QvSystem.MGSST35P SET    M35Zko = '%s', M35Zzo = '%s',        M35Bch = '%s', "
    "M35Dat = CURRENT_TIMESTAMP WHERE  M35Trm = '%s' AND    M35Fir = '%s' AND    "
    "M35Bkl = '%s' AND    M35Les = '%s' AND    M35Wle = '%s' AND    M35Wpl = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QvSystem.MGSST35P    (M35Trm, M35Fir, M35Bkl,     M35Les, M35Wle, "
    "M35Wpl,     M35Zko, M35Zzo, M35Bch,     M35Dat)  VALUES ('%s', '%s', '%s',          "
    "'%s', '%s', '%s',          '%s', '%s', '%s',           CURRENT_TIMESTAMP)";
constexpr const char* kSweep =
    "DELETE FROM Qvsystem.MGSST35P WHERE M35Dat = CONVERT(datetime, '19000101', 112) ";
// Begins and ends with a blank.
constexpr const char* kZlsUpdate =
    " UPDATE QVSYSTEM.QVS401ZLS  SET   ZLSZKO = '%s'  WHERE ZLSTRM = '%s'  AND   "
    "ZLSLES = '%s' ";
// clang-format on

db::StatementResult SQL_MGSST35P_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_MGSST35P_Write(db::Session& s, const Record& r) {
  db::StatementResult rc =
      db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[M35Zko], r[M35Zzo], r[M35Bch],
                        r[M35Trm], r[M35Fir], r[M35Bkl], r[M35Les], r[M35Wle], r[M35Wpl]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::LenientInsert, kInsert, r[M35Trm], r[M35Fir],
                           r[M35Bkl], r[M35Les], r[M35Wle], r[M35Wpl], r[M35Zko], r[M35Zzo],
                           r[M35Bch]);
}

db::StatementResult SQL_SST35P_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

db::StatementResult SQL_Qvs401Zls_Update(db::Session& s, const Record& r) {
  return db::ExecFormatted(s, db::StatementKind::Update, kZlsUpdate, r[M35Zko], r[M35Trm],
                           r[M35Les]);
}

constexpr long kLengths[] = {282};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSST35P", "QVS401ZLS"};

ImportResult Import35P(platform::TextReader& file, ImportContext& context) {
  long zlsUpdated = 0;
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_MGSST35P_SetDelete, "Fehler in SQL_MGSST35P_SetDelete(): %ld",
                When::UnlessUpdateMode},
       .sweep = {SQL_SST35P_Delete, "Fehler in SQL_SST35P_Delete(): %ld", When::UnlessUpdateMode},
       .write = SQL_MGSST35P_Write,
       .writeFailureWithLine = "Fehler in SQL_MGSST35P_Write: %d. Satz: '%s' ",
       .before =
           [&zlsUpdated, &context](Record& r, const std::string& line) {
             if (r[M35Bkl] != kZkoBkl) return Outcome::Written;
             const db::StatementResult rc = SQL_Qvs401Zls_Update(*context.Db, r);
             if (rc.done()) {
               ++zlsUpdated;
               return Outcome::Passed;
             }
             klog::LogF("Fehler in SQL_Qvs401Zls_Update(): %d Satz: '%s' ",
                        static_cast<int>(db::LoggedNumber(rc)), line.c_str());
             return rc.noRow() ? Outcome::Passed : Outcome::Failed;
           },
       .countLine = "%ld von %ld Datensaetze in MGSST35P eingefuegt",
       .after =
           [&zlsUpdated](long counted) {
             klog::LogF("%ld von %ld Datensaetze als Update QVS401ZLS eingefuegt", zlsUpdated,
                        counted);
           }});
}

}  // namespace

constexpr FileType kFileType35P = {
    .code = "35P",
    .usage = "35p  f. Datei MGSST35P",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = Import35P,
};

}  // namespace importers
