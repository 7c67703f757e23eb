// Importer of the KST file ("Kostenst", the cost centres) into
// QVSYSTEM.Qvs120Kid.
//
// The KST file: lines of 135 characters as read, 134 of data and the line
// end. Every field is right-trimmed; the first three are the key.
//
//   offset  length  column   treatment
//        0      30  KidKst   key
//       30       5  KidMnd   key
//       35       5  KidLiz   key
//       40       7  KidNum   blank writes NULL, by the statements with null
//       47       7  KidSys
//       54      30  KidTxt
//       84      50  KidErf
//      134       1  -        the line end
//
// Rows are marked by status 4 and written with status 1; the sweep is an
// "Adjust". Mark and sweep run in every mode: "UPD" changes nothing here.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { KidKst, KidMnd, KidLiz, KidNum, KidSys, KidTxt, KidErf };

constexpr Field kLayout[] = {
    {0, 30, Trim::Yes, "KidKst"}, {30, 5, Trim::Yes, "KidMnd"},
    {35, 5, Trim::Yes, "KidLiz"}, {40, 7, Trim::Yes, "KidNum"},
    {47, 7, Trim::Yes, "KidSys"}, {54, 30, Trim::Yes, "KidTxt"},
    {84, 50, Trim::Yes, "KidErf"},
};

// The status of a row the file delivers.
constexpr short kDelivered = 1;

constexpr const char* kMark = "UPDATE  QVSYSTEM.Qvs120Kid    SET  KidSta = 4";
// The UPDATEs and INSERTs begin with a blank. A blank KidNum takes the forms
// that write null instead of '%s'.
constexpr const char* kUpdate =
    " UPDATE  QVSYSTEM.QVS120KID SET  KidNum = '%s',  KidSys = '%s',  KidTxt = '%s',  "
    "KidSta = %hd,  KidErf = '%s'  WHERE  KidKst = '%s'  AND  KidMnd = '%s'  AND  "
    "KidLiz = '%s'";
constexpr const char* kUpdateNull =
    " UPDATE  QVSYSTEM.QVS120KID SET  KidNum = null,  KidSys = '%s',  KidTxt = '%s',  "
    "KidSta = %hd,  KidErf = '%s'  WHERE  KidKst = '%s'  AND  KidMnd = '%s'  AND  "
    "KidLiz = '%s'";
constexpr const char* kInsert =
    " INSERT INTO QVSYSTEM.QVS120KID  ( KidKst, KidMnd, KidLiz, KidNum,    KidSys, KidTxt, "
    "KidSta, KidErf )  VALUES ('%s', '%s', '%s', '%s', '%s', '%s', %hd, '%s' )";
constexpr const char* kInsertNull =
    " INSERT INTO QVSYSTEM.QVS120KID  ( KidKst, KidMnd, KidLiz, KidNum,    KidSys, KidTxt, "
    "KidSta, KidErf )  VALUES ('%s', '%s', '%s', null, '%s', '%s', %hd, '%s' )";
constexpr const char* kSweep = "DELETE  FROM Qvsystem.Qvs120Kid  WHERE  KidSta = 4";
// clang-format on

db::StatementResult SQL_Qvs120Kid_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_Qvs120Kid_Write(db::Session& s, const Record& r,
                                        const std::string& number) {
  db::StatementResult rc =
      number.empty()
          ? db::ExecFormatted(s, db::StatementKind::Update, kUpdateNull, r[KidSys], r[KidTxt],
                              kDelivered, r[KidErf], r[KidKst], r[KidMnd], r[KidLiz])
          : db::ExecFormatted(s, db::StatementKind::Update, kUpdate, number, r[KidSys], r[KidTxt],
                              kDelivered, r[KidErf], r[KidKst], r[KidMnd], r[KidLiz]);
  if (!rc.noRow()) return rc;
  return number.empty()
             ? db::ExecFormatted(s, db::StatementKind::Insert, kInsertNull, r[KidKst], r[KidMnd],
                                 r[KidLiz], r[KidSys], r[KidTxt], kDelivered, r[KidErf])
             : db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[KidKst], r[KidMnd],
                                 r[KidLiz], number, r[KidSys], r[KidTxt], kDelivered, r[KidErf]);
}

db::StatementResult SQL_Qvs120Kid_Adjust(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::StatusSweep, kSweep);
}

constexpr long kLengths[] = {135};
// The tables the import writes.
constexpr const char* kTables[] = {"QVS120KID"};

ImportResult ImportKst(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_Qvs120Kid_SetDelete, "Fehler in SQL_Qvs120Kid_SetDelete(): %ld", When::Always},
       .sweep = {SQL_Qvs120Kid_Adjust, "Fehler in SQL_Qvs120Kid_Adjust(): %ld", When::Always},
       .write = [](db::Session& s,
                   const Record& r) { return SQL_Qvs120Kid_Write(s, r, r[KidNum]); },
       .writeFailure = "Fehler in SQL_Qvs120Kid_Write(): %ld",
       .countLine = "%ld von %ld Datensaetze in Qvs120Kid eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeKst = {
    .code = "KST",
    .usage = "KST  f. Datei Kostenst",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportKst,
};

}  // namespace importers
