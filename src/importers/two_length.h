// The two-length variant of the import cycle, shared by the FTG, MST, MDT
// and FCD files: a file carries long records and short ones that lack the
// trailing field or fields (left empty in the record); the table is always
// marked and always swept, "UPD" or not; the mark sets the date column to
// 1 January 1900 and the sweep deletes the rows whose date still falls on
// that day; a failed write is logged with its result only.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "importers/cycle.h"

// The values of one two-length importer.
struct TwoLengthImport {
  // Accepted lengths as read, line end included: the long form first (the
  // read limit, and the length the wrong-length message names), then the
  // short form.
  std::vector<long> lengths;
  std::span<const Field> fields;
  // The wrong-length message (line, long length, length read).
  const char* lengthMessage = kWrongLength;

  int (*mark)() = nullptr;
  const char* markFailure = nullptr;   // "%ld": the result
  int (*write)(const Record&) = nullptr;
  const char* writeFailure = nullptr;  // "%ld": the result
  int (*sweep)() = nullptr;
  const char* sweepFailure = nullptr;  // "%ld": the result
  const char* countLine = nullptr;     // records written, lines counted

  // Departure after the cut and before the write (see ImportCycle::before).
  std::function<Outcome(Record&, long lineLength)> before = nullptr;
};

// Runs the two-length cycle over `file` and returns the import result.
inline int RunTwoLengthImport(platform::TextReader& file, const TwoLengthImport& t) {
  ImportCycle cycle;
  cycle.lengths = t.lengths;
  cycle.lengthMessage = t.lengthMessage;
  cycle.fields = t.fields;
  cycle.mark = {t.mark, t.markFailure, When::Always};
  cycle.sweep = {t.sweep, t.sweepFailure, When::Always};
  cycle.write = t.write;
  cycle.writeFailure = t.writeFailure;
  cycle.writeFailureShows = WriteFailureShows::Result;
  cycle.before = t.before;
  cycle.countLine = t.countLine;
  return RunImportCycle(file, cycle);
}
