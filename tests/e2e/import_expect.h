// Expectations shared by the end-to-end tests of the 35P, 41P, FTG, MST, MDT
// and FCD importers: statement texts filled like printf's '%s', and the runs
// that every file type must answer the same way.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/harness.h"

namespace e2e {

// The first statement of every run that reaches the database.
inline const char* const kTimestampQuery =
    "SELECT ( CONVERT(char(11), CURRENT_TIMESTAMP, 104) +          "
    "CONVERT(char(8), CURRENT_TIMESTAMP, 114)) ";

// `format` with each "%s" replaced by the next of `values`, as the statement
// should reach the database (apostrophes already doubled by the caller).
inline std::string Fill(const std::string& format, const std::vector<std::string>& values) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format.compare(i, 2, "%s") == 0) {
      EXPECT_LT(next, values.size()) << "too few values for " << format;
      if (next < values.size()) out += values[next++];
      ++i;
    } else {
      out += format[i];
    }
  }
  EXPECT_EQ(next, values.size()) << "too many values for " << format;
  return out;
}

// A line of fixed-width fields, `values` padded or cut to `widths`. Where a
// value is given for every width (the long form of a two-length file), one
// position that the importer does not read follows.
inline std::string FixedLine(const std::vector<std::string>& values,
                             const std::vector<int>& widths) {
  std::vector<std::pair<std::string, int>> fields;
  for (std::size_t i = 0; i < values.size() && i < widths.size(); ++i)
    fields.emplace_back(values[i], widths[i]);
  if (values.size() == widths.size()) fields.emplace_back("", 1);
  return Record(fields);
}

// Imports `first`, then `second` with the switches `args`; returns the
// statements of the second run.
inline std::vector<std::string> JournalOfSecondImport(Installation& db, const std::string& type,
                                                      const std::string& first,
                                                      const std::string& second,
                                                      const std::vector<std::string>& args) {
  const std::string file = "in/" + type + ".txt";
  db.WriteFile(file, first);
  EXPECT_EQ(db.Run({file, type}).exitCode, 0);
  db.TakeJournal();
  db.WriteFile(file, second);
  std::vector<std::string> argv = {file, type};
  argv.insert(argv.end(), args.begin(), args.end());
  EXPECT_EQ(db.Run(argv).exitCode, 0);
  return db.TakeJournal();
}

// The log's messages after the first `before` ones.
inline std::vector<std::string> NewMessages(const Installation& db, std::size_t before) {
  std::vector<std::string> log = db.LogMessages();
  if (before > log.size()) before = log.size();
  return std::vector<std::string>(log.begin() + static_cast<long>(before), log.end());
}

// A file whose line fails the length test fails every one of the five
// attempts with `message` (which spans several log lines when the line it
// shows carries its line end), and the run ends with 99.
inline void ExpectWrongLengthFailsEveryAttempt(Installation& db, const std::string& type,
                                               const std::string& content,
                                               const std::string& message) {
  db.WriteFile("in/" + type + ".txt", content);
  std::size_t before = db.LogMessages().size();
  EXPECT_EQ(db.Run({"in/" + type + ".txt", type}).exitCode, 99);
  std::vector<std::string> expected;
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::size_t start = 0;
    for (std::size_t lf; (lf = message.find('\n', start)) != std::string::npos; start = lf + 1)
      expected.push_back(message.substr(start, lf - start));
    expected.push_back(message.substr(start));
  }
  expected.push_back("Die Schnittstellendatei vom Dateityp '" + type +
                     "' konnte nicht importiert werden!");
  EXPECT_EQ(NewMessages(db, before), expected);
}

// A file without records (empty lines only) logs the count line with 0 and 0
// and, where the table is swept, leaves it empty.
inline void ExpectEmptyFileCountsNothing(Installation& db, const std::string& type,
                                         const std::vector<std::string>& args,
                                         const std::vector<std::string>& journal,
                                         const std::vector<std::string>& countLines) {
  db.WriteFile("in/" + type + ".txt", "\n\n");
  std::vector<std::string> argv = {"in/" + type + ".txt", type};
  argv.insert(argv.end(), args.begin(), args.end());
  db.TakeJournal();
  std::size_t before = db.LogMessages().size();
  EXPECT_EQ(db.Run(argv).exitCode, 0);
  EXPECT_EQ(db.TakeJournal(), journal);
  std::vector<std::string> expected = countLines;
  expected.push_back("Die Schnittstellendatei vom Dateityp '" + type + "' wurde importiert!");
  EXPECT_EQ(NewMessages(db, before), expected);
}

// A write that fails once with a native error is logged with `message`; the
// run reconnects, imports `content` on the next attempt and ends with 0.
inline void ExpectFailedWriteIsLoggedAndRetried(Installation& db, const std::string& type,
                                                const std::string& content,
                                                const std::string& failingStatement,
                                                const std::string& message) {
  db.SetControl("fail_statement 2627 1 " + failingStatement + "\n");
  db.WriteFile("in/" + type + ".txt", content);
  std::size_t before = db.LogMessages().size();
  EXPECT_EQ(db.Run({"in/" + type + ".txt", type}).exitCode, 0);
  std::vector<std::string> log = NewMessages(db, before);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], message);
  EXPECT_EQ(log[1], "1. Versuch zur Wiederherstellung der Datenbankverbindung!");
  EXPECT_EQ(log.back(), "Die Schnittstellendatei vom Dateityp '" + type + "' wurde importiert!");
}

}  // namespace e2e
