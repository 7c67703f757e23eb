// Importer of the BKL file ("AswBkl", the AswBkl assignments) into
// QVSYSTEM.Qvs301Awb.
//
// The BKL file: lines of 67 characters as read, 66 of data and the line
// end. Every field is right-trimmed; the first four are the key.
//
//   offset  length  column   treatment
//        0      50  AwbAsw   key
//       50       5  AwbBkl   key
//       55       5  AwbLiz   key
//       60       5  AwbMnd   key
//       65       1  AwbZuv   converted like atol: a digit gives its value,
//                            a blank or any other character 0
//       66       1  -        the line end
//
// Rows are marked by status 4 and written with status 1. "UPD" leaves out
// the mark but not the sweep, so with it only the rows already at status 4
// (left by an import that stopped before its sweep) are deleted.
#include <cstdlib>

#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { AwbAsw, AwbBkl, AwbLiz, AwbMnd, AwbZuv };

constexpr Field kLayout[] = {
    {0, 50, Trim::Yes, "AwbAsw"}, {50, 5, Trim::Yes, "AwbBkl"},
    {55, 5, Trim::Yes, "AwbLiz"}, {60, 5, Trim::Yes, "AwbMnd"},
    {65, 1, Trim::Yes, "AwbZuv"},
};

// The status of a row the file delivers.
constexpr long kDelivered = 1;

constexpr const char* kMark = "UPDATE  QVSYSTEM.Qvs301Awb    SET  AwbSta = 4";
// The UPDATE and the INSERT begin with a blank.
constexpr const char* kUpdate =
    " UPDATE  QVSYSTEM.QVS301AWB SET  AwbZuv = %ld,  AwbSta = %ld,  AwbDat = "
    "CURRENT_TIMESTAMP  WHERE  AwbAsw = '%s'  AND  AwbBkl = '%s'  AND  AwbLiz = '%s' "
    "AND  AwbMnd = '%s'";
constexpr const char* kInsert =
    " INSERT INTO QVSYSTEM.QVS301AWB  ( AwbAsw, AwbBkl, AwbLiz, AwbMnd,    AwbZuv, "
    "AwbSta, AwbDat )  VALUES ('%s', '%s', '%s', '%s', %ld, %ld, CURRENT_TIMESTAMP)";
constexpr const char* kSweep = "DELETE  FROM Qvsystem.Qvs301Awb  WHERE  AwbSta = 4";
// clang-format on

db::StatementResult SQL_Qvs301Awb_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_Qvs301Awb_Write(db::Session& s, const Record& r) {
  const long zuv = std::strtol(r[AwbZuv].c_str(), nullptr, 10);
  db::StatementResult rc = db::ExecFormatted(s, db::StatementKind::Update, kUpdate, zuv, kDelivered,
                                             r[AwbAsw], r[AwbBkl], r[AwbLiz], r[AwbMnd]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[AwbAsw], r[AwbBkl], r[AwbLiz],
                           r[AwbMnd], zuv, kDelivered);
}

db::StatementResult SQL_Qvs301Awb_Adjust(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::StatusSweep, kSweep);
}

constexpr long kLengths[] = {67};
// The tables the import writes.
constexpr const char* kTables[] = {"QVS301AWB"};

ImportResult ImportBkl(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_Qvs301Awb_SetDelete, "Fehler in SQL_Qvs301Awb_SetDelete(): %ld",
                When::UnlessUpdateMode},
       .sweep = {SQL_Qvs301Awb_Adjust, "Fehler in SQL_Qvs301Awb_Adjust(): %ld", When::Always},
       .write = SQL_Qvs301Awb_Write,
       .writeFailure = "Fehler in SQL_Qvs301Awb_Write(): %ld",
       .countLine = "%ld von %ld Datensaetze in Qvs301Awb eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeBkl = {
    .code = "BKL",
    .usage = "BKL  f. Datei AswBkl",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportBkl,
};

}  // namespace importers
