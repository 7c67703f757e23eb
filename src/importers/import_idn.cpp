// Importer of the IDN file ("IDStamm", the ID master data) into
// QVSYSTEM.Qvs301Asw, offering a row to QVSYSTEM.QVS113STO and
// QVSYSTEM.QVS113Awv for every record.
//
// The IDN file: lines of 368 characters as read (367 of data and the line
// end, with AswKal) or 364 (363 and the line end, without it), mixed freely.
// Every field is right-trimmed; AswNum, AswGvo and AswBkl are the key.
//
//   offset  length  column   treatment
//        0      50  AswNum   key; also AwvNum of the side row
//       50       8  AswSto   empty becomes "0"; also StoNum and AwvSto
//       58       8  AswGvo   key; YYYYMMDD, style 112; MYSQL rule
//       66       8  AswGbi   YYYYMMDD, style 112; MYSQL rule
//       74       8  AswPnr
//       82      50  AswNam
//      132       5  AswSpr   blank writes NULL
//      137       5  AswBkl   key; empty becomes "0"
//      142      32  AswPin
//      174       5  AswCod   blank writes NULL; also AwvCod of the side row
//      179       5  AswGrp
//      184       5  AswLiz
//      189       5  AswMnd
//      194       2  AswAtp   blank writes NULL
//      196      50  AswAan
//      246       2  AswMta   blank writes NULL
//      248      10  AswSal
//      258       5  AswBk2
//      263       5  AswSta
//      268      14  AswDat   YYYYMMDDHHMMSS, sent as "YYYYMMDD HH:MM:SS",
//                            style 120; blank writes NULL; MYSQL rule
//      282      50  AswErf
//      332       1  AswMap
//      333      30  AswKst   written by the UPDATE only
//      363       3  AswKal   long form only; written by the UPDATE only
//      366       1  -        long form only
//
// The table is neither marked nor swept: rows the file no longer carries
// stay. A new row is inserted without AswKst and AswKal; they reach it when
// the next import updates it. The side-table inserts are offered every time
// and their failures (a row that exists already) are no concern.
//
// MYSQL rule, for installations whose DB_SYSTEM reads MYSQL in any case:
// dates of "19000000" or earlier (compared as text) stand for "none": an
// AswGvo like that, or an empty one, takes the server's date of the run,
// and such an AswGbi or AswDat writes NULL.
#include <utility>

#include "db/statement.h"
#include "importers/date_text.h"
#include "importers/importers.h"
#include "log/log.h"

namespace importers {

namespace {

// clang-format off
enum {
  AswNum, AswSto, AswGvo, AswGbi, AswPnr, AswNam, AswSpr, AswBkl,
  AswPin, AswCod, AswGrp, AswLiz, AswMnd, AswAtp, AswAan, AswMta,
  AswSal, AswBk2, AswSta, AswDat, AswErf, AswMap, AswKst, AswKal,
  kFieldCount
};

constexpr Field kLayout[] = {
    {0, 50, Trim::Yes, "AswNum"},   {50, 8, Trim::Yes, "AswSto"},
    {58, 8, Trim::Yes, "AswGvo"},   {66, 8, Trim::Yes, "AswGbi"},
    {74, 8, Trim::Yes, "AswPnr"},   {82, 50, Trim::Yes, "AswNam"},
    {132, 5, Trim::Yes, "AswSpr"},  {137, 5, Trim::Yes, "AswBkl"},
    {142, 32, Trim::Yes, "AswPin"}, {174, 5, Trim::Yes, "AswCod"},
    {179, 5, Trim::Yes, "AswGrp"},  {184, 5, Trim::Yes, "AswLiz"},
    {189, 5, Trim::Yes, "AswMnd"},  {194, 2, Trim::Yes, "AswAtp"},
    {196, 50, Trim::Yes, "AswAan"}, {246, 2, Trim::Yes, "AswMta"},
    {248, 10, Trim::Yes, "AswSal"}, {258, 5, Trim::Yes, "AswBk2"},
    {263, 5, Trim::Yes, "AswSta"},  {268, 14, Trim::Yes, "AswDat"},
    {282, 50, Trim::Yes, "AswErf"}, {332, 1, Trim::Yes, "AswMap"},
    {333, 30, Trim::Yes, "AswKst"}, {363, 3, Trim::Yes, "AswKal"},
};
static_assert(std::size(kLayout) == kFieldCount);

constexpr long kLongForm = 368;
constexpr long kShortForm = 364;

// Dates up to this one (as text) mean "none" on MYSQL installations.
constexpr const char* kNoDate = "19000000";

// Every statement begins with a blank.
constexpr const char* kStoInsert =
    " INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta, StoErf)  VALUES ('%s', '1', "
    "'QvImport' )";
constexpr const char* kAwvInsert =
    " INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto, AwvCod,   AwvSta, AwvDat, AwvErf)  "
    "VALUES ('%s', '%s', '%s',  '1', CURRENT_TIMESTAMP, 'QvImport' )";
// Filled with the 24 fields in layout order, then AswNum, AswGvo, AswBkl.
constexpr const char* kUpdate =
    " UPDATE  QVSYSTEM.QVS301ASW SET  AswNum = RTRIM('%s'), AswSto = RTRIM('%s'), "
    "AswGvo = convert(datetime,NULLIF('%s',''), 112), AswGbi = convert(datetime,"
    "NULLIF('%s',''), 112), AswPnr = '%s',  AswNam = '%s',  AswSpr = NULLIF('%s',''),  "
    "AswBkl = '%s',  AswPin = '%s',  AswCod = NULLIF('%s',''),  AswGrp = '%s',  "
    "AswLiz = '%s',  AswMnd = '%s',  AswAtp = NULLIF('%s',''),  AswAan = '%s',  "
    "AswMta = NULLIF('%s',''),  AswSal = '%s',  AswBk2 = '%s',  AswSta = '%s',  "
    "AswDat = convert(datetime,NULLIF('%s',''), 120),  AswErf = '%s',  AswMap = '%s',  "
    "AswKst = '%s',  AswKal = '%s'  WHERE  AswNum = RTRIM('%s')  AND  AswGvo = "
    "convert(datetime,NULLIF('%s',''), 112)  AND  AswBkl = RTRIM('%s')";
// Filled with the first 22 fields in layout order, AswNum .. AswMap.
constexpr const char* kInsert =
    " INSERT INTO QVSYSTEM.QVS301ASW  ( AswNum, AswSto, AswGvo, AswGbi, AswPnr,    AswNam, "
    "AswSpr, AswBkl, AswPin, AswCod,    AswGrp, AswLiz, AswMnd, AswAtp, AswAan,    AswMta, "
    "AswSal, AswBk2, AswSta, AswDat,    AswErf, AswMap )  VALUES ('%s', '%s',  "
    "convert(datetime, NULLIF('%s', ''), 112),  convert(datetime, NULLIF('%s', ''), 112), "
    "'%s', '%s', NULLIF('%s', ''), '%s' , '%s', NULLIF('%s', ''), '%s', '%s' , '%s', "
    "NULLIF('%s', ''), '%s', NULLIF('%s', ''),  '%s', '%s', '%s' , convert(datetime, "
    "NULLIF('%s', ''), 120), '%s', '%s')";
// clang-format on

// A field's text, one per index of a pack.
template <std::size_t>
using FieldText = std::string;

// Executes `format` filled with the first N fields in layout order, then
// `tail`; the format is checked against them when compiled.
template <std::size_t... I, typename... Tail>
db::StatementResult ExecFields(db::Session& s, db::StatementKind kind,
                               util::PlainFormatString<FieldText<I>..., Tail...> format,
                               const Record& r, std::index_sequence<I...>, const Tail&... tail) {
  return db::ExecFormatted<FieldText<I>..., Tail...>(s, kind, format, r[I]..., tail...);
}

// The departures before the write: the defaults of AswSto and AswBkl, and
// the MYSQL rule for the three dates.
Outcome Complete(Record& r, const ImportContext& context) {
  if (r[AswSto].empty()) r[AswSto] = "0";
  if (r[AswBkl].empty()) r[AswBkl] = "0";
  if (context.DbSystemMysql) {
    if (r[AswGvo].empty() || r[AswGvo] <= kNoDate) r[AswGvo] = context.ServerDate;
    if (r[AswGbi] <= kNoDate) r[AswGbi].clear();
    if (r[AswDat] <= kNoDate) r[AswDat].clear();
  }
  return Outcome::Written;
}

// The delete step of MYSQL installations: there is nothing to delete.
db::StatementResult SQL_Qvs301Asw_Delete(db::Session& /*session*/) {
  return db::StatementResult::Done();
}

// The side-table inserts, then the upsert of the main row, on the write's
// own copy of the record (every text value escaped as it is formatted, so
// the importer's AswNum stays as cut for the failure message).
db::StatementResult SQL_Qvs301Asw_Write(db::Session& s, const Record& record) {
  Record w = record;
  w[AswDat] = DateTimeText(record[AswDat]);
  // The side inserts' results are not examined; an error here only means
  // that no statement handle could be had.
  db::StatementResult side =
      db::ExecFormatted(s, db::StatementKind::Unchecked, kStoInsert, w[AswSto]);
  if (!side.done()) return side;
  side = db::ExecFormatted(s, db::StatementKind::Unchecked, kAwvInsert, w[AswNum], w[AswSto],
                           w[AswCod]);
  if (!side.done()) return side;
  db::StatementResult rc =
      ExecFields(s, db::StatementKind::Update, kUpdate, w, std::make_index_sequence<kFieldCount>(),
                 w[AswNum], w[AswGvo], w[AswBkl]);
  if (!rc.noRow()) return rc;
  return ExecFields(s, db::StatementKind::Insert, kInsert, w, std::make_index_sequence<AswKst>());
}

// The long form first: it is the read limit and the length the wrong-length
// message names, for a short line too.
constexpr long kLengths[] = {kLongForm, kShortForm};
// The tables the import writes.
constexpr const char* kTables[] = {"QVS301ASW", "QVS113STO", "QVS113AWV"};

ImportResult ImportIdn(platform::TextReader& file, ImportContext& context) {
  // Without the server's date the MYSQL rule would store NULL for AswGvo,
  // a key, and every later import would insert those records again.
  if (context.DbSystemMysql && context.ServerDate.empty()) {
    klog::LogF("Kein Serverdatum fuer die IDN-Datensaetze (DB_SYSTEM MYSQL): Import abgebrochen");
    return ImportResult::DatabaseError;
  }
  return RunImportCycle(
      file, context,
      {.lengths = kLengths,
       .fields = kLayout,
       .mark = {SQL_Qvs301Asw_Delete, "Fehler in SQL_Qvs301Asw_Delete(): %ld",
                context.DbSystemMysql ? When::Always : When::Never},
       .write = SQL_Qvs301Asw_Write,
       .writeFailureWithField = "Fehler in SQL_Qvs301Asw_Write(): %ld - AWN: %s",
       .failureField = AswNum,
       .before = [&context](Record& r, const std::string&) { return Complete(r, context); },
       .countLine = "%ld von %ld Datensaetze in Qvs301Asw eingefuegt"});
}

}  // namespace

constexpr FileType kFileTypeIdn = {
    .code = "IDN",
    .usage = "IDN  f. Datei IDStamm",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportIdn,
};

}  // namespace importers
