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

#include "platform/text_reader.h"

// Results of an importer.
constexpr int kImportOk = 0;
constexpr int kImportReadError = 1;  // the work file could not be read whole
constexpr int kImportDbError = 2;
constexpr int kImportBadLength = 4;

// Run-wide flag set by "UPD": the importers that honour it leave out steps.
extern int UpdateMode;

// The shared line buffer: the line being imported, as read.
extern std::string LineBuf;

// The message for a line of the wrong length (LineBuf, expected, actual).
inline constexpr const char* kWrongLength =
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
// message (filled with the result as %ld), and when it runs.
struct TableStep {
  int (*run)() = nullptr;
  const char* failure = nullptr;
  When when = When::Never;
};

// What the failure message of a write is filled with.
enum class WriteFailureShows {
  ResultAndLine,  // "%d ... '%s'": the result (int) and LineBuf
  Result,         // "%ld": the result only
  ResultAndField, // "%ld ... %s": the result and one field (failureField)
};

// What became of one record.
enum class Outcome { Written, Passed, Failed };

struct ImportCycle {
  // The record lengths accepted, as read with the line end. The first is
  // the long form's: the read limit and the length a wrong-length message
  // names. A field is cut only when it lies wholly inside the line, so a
  // short form leaves the fields it does not carry empty.
  std::vector<long> lengths;
  const char* lengthMessage = kWrongLength;
  std::span<const Field> fields;

  TableStep mark;
  TableStep sweep;

  // Upserts one cut record; returns its statement result (0: written).
  std::function<int(Record&)> write;
  const char* writeFailure = nullptr;
  WriteFailureShows writeFailureShows = WriteFailureShows::Result;
  std::size_t failureField = 0;

  // Departure before the write (e.g. routing to another table): returns
  // nullopt-like Outcome::Written to go on with the write, Passed to go on
  // with the next line without writing, Failed to end the import with 2
  // (the hook has logged).
  std::function<Outcome(Record&, long lineLength)> before;

  // The count line, filled with records written and lines counted.
  const char* countLine = nullptr;
  // Departure after the count line (e.g. a second count line).
  std::function<void(long counted)> after;

  // Departure before the first read (e.g. telling the form from the first
  // line); may change `length`/`shortLength` of the working copy it gets.
  std::function<void(platform::TextReader&, ImportCycle&)> prepare;
};

// Logs a read error of `file` and returns true when there was one. An
// importer that reads outside the cycle checks this before it marks or
// sweeps: an incomplete read must never sweep the rows not yet read.
bool ReadFailed(const platform::TextReader& file);

// Runs the cycle over `file` (positioned at its start) and returns the
// import result.
int RunImportCycle(platform::TextReader& file, const ImportCycle& cycle);
