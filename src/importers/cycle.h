// The import cycle shared by every importer: mark the table, read the work
// file line by line with the record's limit, skip empty lines, count, check
// the length, cut the fields at fixed offsets, right-trim, upsert, sweep the
// rows still marked, log the count line. An importer states its own values
// (an ImportCycle) and only its departures as code.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "db/statement.h"
#include "platform/text_reader.h"
#include "util/format.h"

namespace importers {

// The result of an importer (and of an import attempt); the run decides on
// retries and reconnects by it.
enum class ImportResult {
  Imported = 0,       // the file is in the table
  FileError = 1,      // the work file could not be opened or read
  DatabaseError = 2,  // a statement failed, or no statement handle was had
  WrongLength = 4,    // a line of the wrong length
};

struct CycleObserver;

// What the importers remember from one import attempt to the next within a
// run (a new run starts afresh).
struct ImportState {
  // True while the SLD INSERT tries the form with TswAmp first; false for
  // the rest of the run, all later import attempts included, after the
  // server has answered 207 to it.
  bool TswAmpFlag = true;
  // Lines counted by the latest cycle run, the line of a wrong length
  // included (the second number of the count line); for the run summary.
  long LinesCounted = 0;
};

// What the run knows that the importers depend on, worked out once per run
// and handed to the importer, with the run's database session and the
// importers' state.
struct ImportContext {
  int UpdateMode = 0;                 // 1 with "UPD": the importers that honour it
                                      // leave out the mark and/or the sweep
  std::string ServerDate;             // the server's date at the run's start, yyyymmdd;
                                      // empty when the query failed
  bool DbSystemMysql = false;         // DB_SYSTEM reads MYSQL (in any case)
  CycleObserver* Observer = nullptr;  // kranzel-check's; the import has none
  db::Session* Db = nullptr;          // where the statements go; never null in an import
  ImportState State;
};

// The message for a line of the wrong length (the line, expected, actual).
inline constexpr util::FormatString<const char*, long, long> kWrongLength =
    "Falsche Satzlaenge! '%s' Laenge Soll/Ist (%ld/%ld)";

// RTrim: removes trailing blanks and tabs (nothing else) in place.
std::string& RTrim(std::string& text);

// One field of a record layout: cut `length` characters at `offset` of the
// line as read, right-trimmed or not.
enum class Trim { Yes, No };
struct Field {
  int offset;
  int length;
  Trim trim;
  const char* column;  // the column it feeds, for the reader of the table
};

// A cut record: one text per field, in layout order.
using Record = std::vector<std::string>;

// When the mark or the sweep runs.
enum class When { Always, UnlessUpdateMode, Never };

// The mark or the sweep of a table: its statement function, its failure
// message (filled with the result), and when it runs.
struct TableStep {
  db::StatementResult (*run)(db::Session&) = nullptr;
  util::FormatString<long> failure{};
  When when = When::Never;
};

// What became of one record.
enum class Outcome { Written, Passed, Failed };

struct ImportCycle {
  // The record lengths accepted, as read with the line end. The first is
  // the long form's: the read limit and the length a wrong-length message
  // names. A field is cut only when it lies wholly inside the line, so a
  // short form leaves the fields it does not carry empty.
  std::span<const long> lengths{};
  util::FormatString<const char*, long, long> lengthMessage = kWrongLength;
  std::span<const Field> fields{};

  TableStep mark{};
  TableStep sweep{};

  // Upserts one cut record; returns its statement result (done: written).
  std::function<db::StatementResult(db::Session&, const Record&)> write{};
  // The failure message of a write; exactly one is given, and it says what
  // the message is filled with.
  util::FormatString<int, const char*> writeFailureWithLine{};    // result, the line
  util::FormatString<long> writeFailure{};                        // result
  util::FormatString<long, const char*> writeFailureWithField{};  // result, a field
  std::size_t failureField = 0;                                   // that field

  // Departure before the write (e.g. routing to another table), given the
  // cut record and the line as read: Outcome::Written goes on with the
  // write, Passed with the next line without writing, Failed ends the import
  // with a database error (the hook has logged).
  std::function<Outcome(Record&, const std::string& line)> before{};

  // The count line, filled with records written and lines counted.
  util::FormatString<long, long> countLine{};
  // Departure after the count line (e.g. a second count line).
  std::function<void(long counted)> after{};

  // Departure before the first read (e.g. telling the form from the first
  // line); may change `lengths` of the working copy it gets.
  std::function<void(platform::TextReader&, ImportCycle&)> prepare{};
};

// A watcher of the cycle for kranzel-check, which reads a delivery through
// the import's own cycle without importing it: it sees every line as read
// and every record as it goes to the write, and may let the cycle go on past
// a line of the wrong length (nothing is logged for it then). Without one the
// cycle behaves exactly as before.
struct CycleObserver {
  virtual ~CycleObserver() = default;
  // Every line as read, empty lines too, before anything else is done.
  virtual void Read(const platform::TextReader& file, const std::string& line) = 0;
  // A line of none of the `accepted` lengths, `actual` characters long with
  // its line end (more than `line` holds when it went on past the longest
  // record: its rest has been read then); true goes on with the next line.
  virtual bool WrongLength(const std::string& line, long actual,
                           std::span<const long> accepted) = 0;
  // A record after the importer's departures, before it is written or passed.
  virtual void Cut(const Record& record, std::span<const Field> fields) = 0;
};

// Logs a read error of `file`, or a change of its size or time of writing
// since it was opened (a delivery still being written), and returns true
// when there was one. An importer that reads outside the cycle checks this
// before it marks or sweeps: an incomplete read must never sweep the rows
// not yet read.
[[nodiscard]] bool ReadFailed(const platform::TextReader& file);

// Runs the cycle over `file` (positioned at its start) and returns the
// import result.
[[nodiscard]] ImportResult RunImportCycle(platform::TextReader& file, ImportContext& context,
                                          const ImportCycle& cycle);

}  // namespace importers
