// Importer of the FCD file (function codes, "Funktionscodes") into
// QVSYSTEM.MGSSTFCD.
//
// The FCD file comes in two forms, told by the length as read (line end
// included): long records of 77 characters, and short records that stop
// after FCDTxt (FCDTyp and FCDFcd then empty). Every field is right-trimmed
// and sent as text. The columns are named as the UPDATE spells them; the
// INSERT spells several differently.
//
//   offset  length  column   treatment
//        0       5  FCDLIZ   key
//        5       5  FCDMND   key
//       10       3  FCDNUM   key
//       13       2  FCDKrt
//       15      50  FCDTxt
//       65       5  FCDTyp   long records only
//       70       5  FCDFcd   long records only
//       75       1  -        long records only: not read
//       76       1  -        long records only: the line end
//
// The short record is 66 characters: its 65 field characters and the line
// end, as in the other two-length files. The upstream system also delivers
// short records of 65 characters whose line end stands in the last position
// of FCDTxt; those are accepted too, and the line end is taken off FCDTxt
// before trimming, so that no description is stored with a line feed. The
// wrong-length message names the long length, 77, whatever the line.
//
// Rows are marked by FCDDAT = 1 January 1900 and swept by the date part;
// the mark and the sweep run whether "UPD" is given or not.
#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum { FCDLIZ, FCDMND, FCDNUM, FCDKrt, FCDTxt, FCDTyp, FCDFcd };

constexpr Field kLayout[] = {
    {0, 5, Trim::Yes, "FCDLIZ"},   {5, 5, Trim::Yes, "FCDMND"},
    {10, 3, Trim::Yes, "FCDNUM"},  {13, 2, Trim::Yes, "FCDKrt"},
    {15, 50, Trim::Yes, "FCDTxt"}, {65, 5, Trim::Yes, "FCDTyp"},
    {70, 5, Trim::Yes, "FCDFcd"},
};

constexpr long kLongLength = 77;
constexpr long kShortLength = 66;
constexpr long kCutShortLength = 65;  // line end inside FCDTxt

constexpr const char* kMark =
    "UPDATE QvSystem.MGSSTFCD SET    FCDDAT = CONVERT(datetime, '19000101', 112) ";
constexpr const char* kUpdate =
    "UPDATE QVSYSTEM.MGSSTFCD SET    FCDKrt = '%s', FCDTxt = '%s', FCDTyp = '%s',        "
    "FCDFcd = '%s', FCDDat = CURRENT_TIMESTAMP WHERE FCDLIZ = '%s' AND   FCDMND = '%s' AND   "
    "FCDNUM = '%s' ";
constexpr const char* kInsert =
    "INSERT INTO QVSYSTEM.MGSSTFCD  (FCDLiz, FCDMnd, FCDNum,  FCDKrt, FCDTxt, FCDTyp,  "
    "FCDFcd, FcdDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', CURRENT_TIMESTAMP) ";
constexpr const char* kSweep =
    "DELETE FROM Qvsystem.MGSSTFCD WHERE CONVERT(char(11), FCDDAT, 112) = '19000101' ";
// clang-format on

// A 65-character record carries its line end as the last character of
// FCDTxt, behind any blanks of the description; take it off and trim again.
Outcome DropLineEndFromText(Record& r, const std::string& line) {
  std::string& text = r[FCDTxt];
  if (static_cast<long>(line.size()) == kCutShortLength && !text.empty() && text.back() == '\n') {
    text.pop_back();
    RTrim(text);
  }
  return Outcome::Written;
}

db::StatementResult SQL_SSTFcd_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_SSTFcd_Write(db::Session& s, const Record& r) {
  db::StatementResult rc =
      db::ExecFormatted(s, db::StatementKind::Update, kUpdate, r[FCDKrt], r[FCDTxt], r[FCDTyp],
                        r[FCDFcd], r[FCDLIZ], r[FCDMND], r[FCDNUM]);
  if (!rc.noRow()) return rc;
  return db::ExecFormatted(s, db::StatementKind::Insert, kInsert, r[FCDLIZ], r[FCDMND], r[FCDNUM],
                           r[FCDKrt], r[FCDTxt], r[FCDTyp], r[FCDFcd]);
}

db::StatementResult SQL_SSTFcd_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::DateSweep, kSweep);
}

constexpr long kLengths[] = {kLongLength, kShortLength, kCutShortLength};
// The tables the import writes.
constexpr const char* kTables[] = {"MGSSTFCD"};

ImportResult ImportFcd(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_SSTFcd_SetDelete, "Fehler in SQL_SSTFcd_SetDelete(): %ld", When::Always},
       .sweep = {SQL_SSTFcd_Delete, "Fehler in SQL_SSTFcd_Delete(): %ld", When::Always},
       .write = SQL_SSTFcd_Write,
       .writeFailure = "Fehler in SQL_SSTFcd_Write(): %ld",
       .before = DropLineEndFromText,
       .countLine = "%ld von %ld Datensaetze in MGSSTFCD eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeFcd = {
    .code = "FCD",
    .usage = "fcd  f. Datei Funktionscodes",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportFcd,
};

}  // namespace importers
