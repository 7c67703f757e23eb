// The run summary for monitoring: one JSON object per run, one per line,
// appended to ../../Valdura_php/log/kranzel-runs.jsonl beside the log (and
// rotated like it, past 10 MB, to kranzel-runs.old), whatever "/D" says.
// The log's messages and the exit code stay as they are; the summary only
// sits beside them.
//
//   {"start":"2026-12-07T08:03:38","end":"2026-12-07T08:03:39","pid":4711,
//    "source":"in/20P.txt","work":"in/20P.wrk","type":"20P","update_mode":false,
//    "attempts":1,"records":2,"inserted":2,"updated":0,"deleted":0,
//    "native_error":0,"exit_code":0}
//
// start, end   local time of the machine, ISO 8601 without a zone offset (as
//              the log's own timestamps)
// attempts     import attempts begun (0 when the run ended before the first)
// records      lines counted by the last attempt (the count line's second number)
// inserted, updated, deleted
//              rows the driver reported for the upserts' INSERTs and UPDATEs
//              and for the sweep of the last attempt; 0 where no statement
//              of that kind ran (no new record, no sweep with "UPD", or the
//              attempt ended before), null where one ran whose count the
//              driver did not give
// native_error the last non-zero native error number of the run, or 0
//
// Texts are JSON strings in pure ASCII: quotes, backslashes and control
// characters escaped; a text that is valid UTF-8 keeps its characters
// (written as \u escapes); any other text is read as Windows-1252, the
// installations' code page, and each byte written as the \u escape of its
// character (0xE4 "ä" as \u00e4, 0x80 "€" as \u20ac).
#pragma once

#include <string>

namespace run {

struct RunSummary {
  std::string start;  // local time, "YYYY-MM-DDThh:mm:ss"
  std::string end;
  long pid = 0;
  std::string source;  // the first argument, as given
  std::string work;    // the work file's name
  std::string type;    // the file type as the run compares it
  bool updateMode = false;
  int attempts = 0;
  long records = 0;
  long inserted = 0;  // -1: null (the driver gave no count)
  long updated = 0;
  long deleted = 0;
  long nativeError = 0;
  int exitCode = 0;
};

// `text` as a JSON string, quotes included (see above for the characters).
std::string JsonString(const std::string& text);

// The summary as one JSON object, without a line end.
std::string RunSummaryJson(const RunSummary& summary);

// The local time now, as the summary writes it.
std::string SummaryTime();

// Appends the summary and a line feed to `path` (rotated to `oldPath`). A
// summary that cannot be written says so in one line on standard error and
// changes nothing else.
void WriteRunSummary(const RunSummary& summary, const std::string& path,
                     const std::string& oldPath);

}  // namespace run
