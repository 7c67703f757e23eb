// The import cycle, written once for all importers.
#include "importers/cycle.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "log/log.h"

namespace importers {

std::string& RTrim(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  text.resize(end);
  return text;
}

namespace {

bool Runs(When when, const ImportContext& context) {
  return when == When::Always || (when == When::UnlessUpdateMode && !context.UpdateMode);
}

// Runs a mark or a sweep; done and no row are fine, anything else is logged.
bool RunStep(const TableStep& step, const ImportContext& context) {
  if (step.run == nullptr || !Runs(step.when, context)) return true;
  const db::StatementResult result = step.run(*context.Db);
  if (result.done() || result.noRow()) return true;
  klog::LogF(step.failure, db::LoggedNumber(result));
  return false;
}

void LogWriteFailure(const ImportCycle& c, const db::StatementResult& result, const Record& record,
                     const std::string& line) {
  const long rc = db::LoggedNumber(result);
  if (!c.writeFailureWithLine.empty()) {
    klog::LogF(c.writeFailureWithLine, static_cast<int>(rc), line.c_str());
  } else if (!c.writeFailureWithField.empty()) {
    klog::LogF(c.writeFailureWithField, rc, record[c.failureField].c_str());
  } else {
    assert(!c.writeFailure.empty());
    klog::LogF(c.writeFailure, rc);
  }
}

}  // namespace

bool ReadFailed(const platform::TextReader& file) {
  if (file.Failed()) {
    klog::LogF("Fehler beim Lesen der Datei %s: %s", file.Path().c_str(), file.ErrorText().c_str());
    return true;
  }
  // Lines appended after the end was read would never be imported, and the
  // sweep would delete their rows: a delivery still being written is read
  // again by the next attempt.
  if (file.Changed()) {
    klog::LogF("Fehler beim Lesen der Datei %s: die Datei wurde waehrend des Lesens geaendert",
               file.Path().c_str());
    return true;
  }
  return false;
}

ImportResult RunImportCycle(platform::TextReader& file, ImportContext& context,
                            const ImportCycle& given) {
  assert(context.Db != nullptr);
  ImportCycle cycle = given;
  if (cycle.prepare) cycle.prepare(file, cycle);
  assert(!cycle.lengths.empty() && cycle.write && !cycle.countLine.empty());
  // A departure may have read already (the SLD form from the first line).
  if (ReadFailed(file)) return ImportResult::FileError;

  long& counted = context.State.LinesCounted;
  counted = 0;
  long written = 0;
  if (!RunStep(cycle.mark, context)) return ImportResult::DatabaseError;

  // The line being imported, as read.
  std::string LineBuf;
  const long limit = cycle.lengths.front();
  Record record(cycle.fields.size());
  CycleObserver* const observer = context.Observer;
  while (file.ReadLine(LineBuf, static_cast<std::size_t>(limit))) {
    if (observer != nullptr) observer->Read(file, LineBuf);
    if (LineBuf == "\n") continue;
    ++counted;
    const long length = static_cast<long>(LineBuf.size());
    // A line that goes on past the longest record is one wrong record, not a
    // record of its first characters and another line (a character written
    // in two bytes once shifted every field after it); a last line of full
    // length without a line end stays a record.
    long overlong = 0;
    if (file.LastReadCount() == static_cast<std::size_t>(limit) && !file.LastReadEndedLine()) {
      const std::size_t rest = file.SkipRestOfLine();
      if (file.Failed()) break;
      if (rest > 0) overlong = limit + static_cast<long>(rest);
    }
    if (overlong > 0 ||
        std::find(cycle.lengths.begin(), cycle.lengths.end(), length) == cycle.lengths.end()) {
      const long actual = overlong > 0 ? overlong : length;
      if (observer != nullptr && observer->WrongLength(LineBuf, actual, cycle.lengths)) continue;
      klog::LogF(cycle.lengthMessage, LineBuf.c_str(), limit, actual);
      return ImportResult::WrongLength;
    }
    for (std::size_t i = 0; i < cycle.fields.size(); ++i) {
      const Field& f = cycle.fields[i];
      if (f.offset + f.length > length) {
        record[i].clear();
        continue;
      }
      // Trimmed as it is cut, as RTrim would after.
      const char* text = LineBuf.data() + f.offset;
      auto size = static_cast<std::size_t>(f.length);
      if (f.trim == Trim::Yes) {
        while (size > 0 && (text[size - 1] == ' ' || text[size - 1] == '\t')) --size;
      }
      record[i].assign(text, size);
    }
    if (cycle.before) {
      Outcome o = cycle.before(record, LineBuf);
      if (o == Outcome::Failed) return ImportResult::DatabaseError;
      if (o == Outcome::Passed) {
        if (observer != nullptr) observer->Cut(record, cycle.fields);
        continue;
      }
    }
    if (observer != nullptr) observer->Cut(record, cycle.fields);
    const db::StatementResult result = cycle.write(*context.Db, record);
    if (!result.done()) {
      LogWriteFailure(cycle, result, record, LineBuf);
      return ImportResult::DatabaseError;
    }
    ++written;
  }
  // A read error is not the end of the file: no sweep after an incomplete read.
  if (ReadFailed(file)) return ImportResult::FileError;

  if (!RunStep(cycle.sweep, context)) return ImportResult::DatabaseError;
  klog::LogF(cycle.countLine, written, counted);
  if (cycle.after) cycle.after(counted);
  return ImportResult::Imported;
}

}  // namespace importers
