// Importer of the SLD file ("SALDO", the balances) into QVSYSTEM.O2002TSW.
//
// The SLD file comes in two forms, and the first line decides which one the
// whole file has: 432 characters as read (431 of data and the line end, with
// TswAmp) or 427 (426 and the line end, without TswAmp). Every field is
// right-trimmed; TswIdn alone is the key.
//
//   offset            length  column              treatment
//        0                50  TswIdn              key
//       50                 8  TswSto              also the column of the mark
//       58                 5  Tswliz
//       63                 5  TswMnd
//       68                 8  TswW01              8 wide, not 10 like the rest
//       76 + 10*(n-2)     10  TswW02 .. TswW16    n = 2 .. 16
//      226 + 20*(n-1)     20  TswF01 .. TswF10    n = 1 .. 10
//      426                 5  TswAmp              long form only, else empty
//
//   form     := first line of 432 characters -> every line 432
//             | any other first line (an empty one too) -> every line 427
//             | no line at all -> 432
//
// Rows are marked by TswSto = '*DEL'. Each record writes the TswSto its file
// carries, so a record with '*DEL' is written and swept again. Mark and
// sweep run in every mode: "UPD" changes nothing here.
//
// Older databases lack the column TswAmp: an INSERT naming it fails there
// with the server's "invalid column name" (native error 207), and from then
// on the run inserts without it (TswAmpFlag, kept in the run's ImportState).
#include <utility>

#include "db/statement.h"
#include "importers/importers.h"

namespace importers {

namespace {

// clang-format off
enum {
  TswIdn, TswSto, Tswliz, TswMnd,
  TswW01, TswW02, TswW03, TswW04, TswW05, TswW06, TswW07, TswW08,
  TswW09, TswW10, TswW11, TswW12, TswW13, TswW14, TswW15, TswW16,
  TswF01, TswF02, TswF03, TswF04, TswF05, TswF06, TswF07, TswF08, TswF09, TswF10,
  TswAmp, kFieldCount
};

constexpr Field kLayout[] = {
    {0, 50, Trim::Yes, "TswIdn"},    {50, 8, Trim::Yes, "TswSto"},
    {58, 5, Trim::Yes, "Tswliz"},    {63, 5, Trim::Yes, "TswMnd"},
    {68, 8, Trim::Yes, "TswW01"},    {76, 10, Trim::Yes, "TswW02"},
    {86, 10, Trim::Yes, "TswW03"},   {96, 10, Trim::Yes, "TswW04"},
    {106, 10, Trim::Yes, "TswW05"},  {116, 10, Trim::Yes, "TswW06"},
    {126, 10, Trim::Yes, "TswW07"},  {136, 10, Trim::Yes, "TswW08"},
    {146, 10, Trim::Yes, "TswW09"},  {156, 10, Trim::Yes, "TswW10"},
    {166, 10, Trim::Yes, "TswW11"},  {176, 10, Trim::Yes, "TswW12"},
    {186, 10, Trim::Yes, "TswW13"},  {196, 10, Trim::Yes, "TswW14"},
    {206, 10, Trim::Yes, "TswW15"},  {216, 10, Trim::Yes, "TswW16"},
    {226, 20, Trim::Yes, "TswF01"},  {246, 20, Trim::Yes, "TswF02"},
    {266, 20, Trim::Yes, "TswF03"},  {286, 20, Trim::Yes, "TswF04"},
    {306, 20, Trim::Yes, "TswF05"},  {326, 20, Trim::Yes, "TswF06"},
    {346, 20, Trim::Yes, "TswF07"},  {366, 20, Trim::Yes, "TswF08"},
    {386, 20, Trim::Yes, "TswF09"},  {406, 20, Trim::Yes, "TswF10"},
    {426, 5, Trim::Yes, "TswAmp"},
};
static_assert(std::size(kLayout) == kFieldCount);

constexpr long kLongForm = 432;
constexpr long kShortForm = 427;
// A file holds one form throughout: these are the accepted lengths before
// the first line is seen, and after it told the short form.
constexpr long kLengths[] = {kLongForm, kShortForm};
constexpr long kShortLengths[] = {kShortForm};
// The table the import writes.
constexpr const char* kTables[] = {"O2002TSW"};

// The server's native error for an invalid column name.
constexpr int kInvalidColumn = 207;

constexpr const char* kMark = "UPDATE QvSystem.O2002TSW SET    TSWSTO = '*DEL' ";
// Filled with TswSto .. TswAmp, then TswIdn; always sets TswAmp (empty in
// the short form).
constexpr const char* kUpdate =
    "UPDATE QVSYSTEM.O2002TSW SET  TswSto = RTRIM('%s'),  Tswliz = RTRIM('%s'), "
    "TswMnd = RTRIM('%s'),  TswW01 = '%s', TswW02 = '%s',  TswW03 = '%s', TswW04 = '%s',  "
    "TswW05 = '%s', TswW06 = '%s',  TswW07 = '%s', TswW08 = '%s',  TswW09 = '%s', "
    "TswW10 = '%s',  TswW11 = '%s', TswW12 = '%s',  TswW13 = '%s', TswW14 = '%s',  "
    "TswW15 = '%s', TswW16 = '%s',  TswF01 = '%s', TswF02 = '%s',  TswF03 = '%s', "
    "TswF04 = '%s',  TswF05 = '%s', TswF06 = '%s',  TswF07 = '%s', TswF08 = '%s',  "
    "TswF09 = '%s', TswF10 = '%s',  TswAmp = '%s' WHERE TswIdn = RTRIM('%s') ";
// Filled with the 31 fields in layout order.
constexpr const char* kInsertWithAmp =
    " INSERT INTO QVSYSTEM.O2002TSW  (TswIdn, TswSto, Tswliz, TswMnd,   TswW01, TswW02, "
    "TswW03, TswW04,   TswW05, TswW06, TswW07, TswW08,   TswW09, TswW10, TswW11, TswW12,   "
    "TswW13, TswW14, TswW15, TswW16,   TswF01, TswF02, TswF03, TswF04,   TswF05, TswF06, "
    "TswF07, TswF08,   TswF09, TswF10, TswAmp )  VALUES (RTRIM('%s'), RTRIM('%s'), "
    "RTRIM('%s'), RTRIM('%s'),  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', "
    "'%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', "
    "'%s', '%s',  '%s', '%s', '%s' ) ";
// Filled with the first 30 fields, TswIdn .. TswF10.
constexpr const char* kInsertWithoutAmp =
    " INSERT INTO QVSYSTEM.O2002TSW  (TswIdn, TswSto, Tswliz, TswMnd,   TswW01, TswW02, "
    "TswW03, TswW04,   TswW05, TswW06, TswW07, TswW08,   TswW09, TswW10, TswW11, TswW12,   "
    "TswW13, TswW14, TswW15, TswW16,   TswF01, TswF02, TswF03, TswF04,   TswF05, TswF06, "
    "TswF07, TswF08,   TswF09, TswF10 )  VALUES (RTRIM('%s'), RTRIM('%s'), RTRIM('%s'), "
    "RTRIM('%s'),  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', "
    "'%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  "
    "'%s', '%s' ) ";
constexpr const char* kSweep = "DELETE FROM QVSYSTEM.O2002TSW WHERE TSWSTO = '*DEL' ";
// clang-format on

// A field's text, one per index of a pack.
template <std::size_t>
using FieldText = std::string;

// Executes `format` filled with the fields first .. first+N-1 in layout
// order, then `tail`; the format is checked against them when compiled.
template <std::size_t First, std::size_t... I, typename... Tail>
db::StatementResult ExecFields(db::Session& s, db::StatementKind kind,
                               util::PlainFormatString<FieldText<I>..., Tail...> format,
                               const Record& r, std::index_sequence<I...>, const Tail&... tail) {
  return db::ExecFormatted<FieldText<I>..., Tail...>(s, kind, format, r[First + I]..., tail...);
}

db::StatementResult SQL_O2002Tsw_SetDelete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::Mark, kMark);
}

db::StatementResult SQL_O2002Tsw_Write(db::Session& s, ImportState& state, const Record& r) {
  db::StatementResult rc =
      ExecFields<TswSto>(s, db::StatementKind::Update, kUpdate, r,
                         std::make_index_sequence<TswAmp - TswSto + 1>(), r[TswIdn]);
  if (!rc.noRow()) return rc;
  if (state.TswAmpFlag) {
    rc = ExecFields<TswIdn>(s, db::StatementKind::Insert, kInsertWithAmp, r,
                            std::make_index_sequence<kFieldCount>());
    if (!rc.failed(kInvalidColumn)) return rc;
    state.TswAmpFlag = false;
  }
  return ExecFields<TswIdn>(s, db::StatementKind::Insert, kInsertWithoutAmp, r,
                            std::make_index_sequence<TswAmp>());
}

db::StatementResult SQL_O2002Tsw_Delete(db::Session& s) {
  return db::ExecStatement(s, db::StatementKind::StatusSweep, kSweep);
}

ImportResult ImportSld(platform::TextReader& file, ImportContext& context) {
  return RunImportCycle(
      file, context,
      {.lengths = std::span(kLengths).first(1),
       .fields = kLayout,
       .mark = {SQL_O2002Tsw_SetDelete, "Fehler in SQL_O2002Tsw_SetDelete(): %ld", When::Always},
       .sweep = {SQL_O2002Tsw_Delete, "Fehler in SQL_O2002Tsw_Delete(): %ld", When::Always},
       .write = [&state = context.State](
                    db::Session& s, const Record& r) { return SQL_O2002Tsw_Write(s, state, r); },
       .writeFailure = "Fehler in SQL_O2002Tsw_Write(): %ld",
       .countLine = "%ld von %ld Datensaetze in O2002TSW eingefuegt",
       .prepare =
           [](platform::TextReader& f, ImportCycle& c) {
             // The first line decides the form; the loop then reads it again.
             std::string first;
             if (f.ReadLine(first, kLongForm) && static_cast<long>(first.size()) != kLongForm)
               c.lengths = kShortLengths;
             f.Rewind();
           }});
}

}  // namespace

constexpr FileType kFileTypeSld = {
    .code = "SLD",
    .usage = "SLD  f. Datei SALDO",
    .layout = kLayout,
    .lengths = kLengths,
    .tables = kTables,
    .import = ImportSld,
};

}  // namespace importers
