// The configuration file reader: ReadIniValue and the record cutting it
// shares with kranzel-ini. The file's grammar and cutting rules are at the
// top of config/ini.h.
//
// The cutting rules are kept exactly, oddities included, because the
// installations' files were written against them: a field between two
// adjacent bounds reads as the whole rest of the line (line end included),
// and a line longer than its read limit is read in pieces, which puts every
// later record out of step. The fields are std::strings cut at their
// capacity, so no input can write past them.
#include "config/ini.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "config/cipher.h"

namespace config {

std::string IniSection;
std::string IniKey;
std::int32_t IniNumber = 0;
std::string IniValue;

namespace ini {

namespace {

constexpr std::ptrdiff_t kNone = -2;  // no such bound in the line

std::ptrdiff_t Find(const std::string& line, char c, std::ptrdiff_t from) {
  std::size_t at = line.find(c, static_cast<std::size_t>(from));
  return at == std::string::npos ? kNone : static_cast<std::ptrdiff_t>(at);
}

// The text strictly between the bounds `left` and `right` (positions in the
// line; -1 stands for the start of the line). Adjacent bounds read as the
// whole rest of the line after `left`; a right bound not after the left one
// gives an empty text.
std::string Between(const std::string& line, std::ptrdiff_t left, std::ptrdiff_t right) {
  std::size_t from = static_cast<std::size_t>(left + 1);
  if (right == left + 1) return line.substr(from);
  if (right <= left) return std::string();
  return line.substr(from, static_cast<std::size_t>(right - left - 1));
}

std::string Field(std::string text) {
  if (text.size() > kFieldLimit) text.resize(kFieldLimit);
  return text;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void ClearResult() {
  IniSection.clear();
  IniKey.clear();
  IniNumber = 0;
  IniValue.clear();
}

}  // namespace

std::int32_t ParseNumber(const std::string& text) {
  std::size_t end = text.size() < kNumberLimit ? text.size() : kNumberLimit;
  std::size_t i = 0;
  while (i < end && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // At most 15 digits: the sum cannot overflow 64 bits.
  std::int64_t value = 0;
  while (i < end && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (negative) value = -value;
  // atol of a 32-bit long answers an out-of-range number with its bound.
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

Record CutRecord(const std::string& line1, const std::string& line2) {
  Record record;

  std::ptrdiff_t first = Find(line1, ';', 0);
  if (first != kNone) {
    std::ptrdiff_t second = Find(line1, ';', first + 1);
    if (second == kNone) second = first;
    record.section = Field(Between(line1, first, second));
  }

  std::ptrdiff_t lineEnd = Find(line2, '\n', 0);
  first = Find(line2, ';', 0);
  if (first == kNone) {
    // No separator at all: the whole line is the number's text and the
    // value; the key stays empty.
    record.number = ParseNumber(line2);
    if (lineEnd != kNone) record.value = Field(Between(line2, -1, lineEnd));
    return record;
  }
  std::ptrdiff_t second = Find(line2, ';', first + 1);
  if (second == kNone) second = first;
  record.number = ParseNumber(Between(line2, -1, first));
  record.key = Field(Between(line2, first, second));
  // A value without a line end after it (a last line without one, or a
  // line cut at its read limit) stays empty.
  if (lineEnd != kNone) record.value = Field(Between(line2, second, lineEnd));
  return record;
}

bool RecordReader::Open(const std::string& path) {
  line_ = 1;
  orphanLine_ = 0;
  return reader_.Open(path);
}

bool RecordReader::Read(std::string& text, std::size_t limit, int& startLine, bool& cut) {
  startLine = line_;
  if (!reader_.ReadLine(text, limit)) return false;
  if (reader_.LastReadEndedLine()) ++line_;
  cut = !reader_.LastReadEndedLine() && reader_.LastReadCount() == limit;
  return true;
}

bool RecordReader::Next(Record& record) {
  std::string line1, line2;
  int line1Start = 0, line2Start = 0;
  bool cut1 = false, cut2 = false;
  if (!Read(line1, kLine1Limit, line1Start, cut1)) return false;
  if (!Read(line2, kLine2Limit, line2Start, cut2)) {
    orphanLine_ = line1Start;
    reader_.Close();
    return false;
  }
  record = CutRecord(line1, line2);
  record.line = line1Start;
  record.line2 = line2Start;
  record.line1Cut = cut1;
  record.line2Cut = cut2;
  return true;
}

LookupResult Lookup(const std::string& section, const std::string& key, std::int32_t number,
                    const std::string& path) {
  LookupResult result;
  ClearResult();
  RecordReader reader;
  if (!reader.Open(path)) return result;
  result.opened = true;
  Record record;
  while (reader.Next(record)) {
    IniSection = record.section;
    IniKey = record.key;
    IniNumber = record.number;
    IniValue = record.value;
    if (record.section == section || record.key == key || record.number == number) {
      IniValue = PlainText(DecryptHex(record.value, kIniKey));
      result.value = IniValue;
      result.matched = true;
      result.record = record;
      return result;
    }
    ClearResult();
  }
  return result;
}

}  // namespace ini

void ReadIniValue(const std::string& section, const std::string& key, std::int32_t number,
                  const std::string& path) {
  (void)ini::Lookup(section, key, number, path);
}

}  // namespace config
