// The shared configuration file "../../Files/Valdura.Ini": a sequence of
// two-line records, every value Blowfish-encrypted as hexadecimal text.
//
//   file    := record*
//   record  := line1 line2
//   line1   := lead ';' section ';' tail LF          (read with limit 199)
//   line2   := number ';' key ';' value LF           (read with limit 399)
//
// Cutting rules (first separator = the first ';', second separator = the
// second ';' or, with only one ';' in the line, that same one):
//   - section and key: the text strictly between the two separators;
//   - number: the text before the first separator, parsed like atol;
//   - value: the text strictly between the second separator and the line end;
//   - bounds that are adjacent (empty text between them) read instead as the
//     whole rest of the line after the left bound, line end included;
//   - a right bound not after its left bound gives an empty field (one ';').
// A record matches when its section, its key or its number equals the one
// asked for; the first match ends the search, and its value is decrypted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text_reader.h"

namespace config {

// Process-wide: the outcome of the latest ReadIniValue, cleared at the
// start of each lookup. ReadIniValue leaves its result here, as it always
// has; the tool's own code reads ini::Lookup's result instead.
extern std::string IniSection;  // at most 200 characters
extern std::string IniKey;      // at most 200 characters
extern std::int32_t IniNumber;
extern std::string IniValue;  // decrypted, at most 200 characters before

// The configuration file as the tool finds it from its working directory.
inline constexpr const char* kIniPath = "../../Files/Valdura.Ini";

// Looks up the first record matching `section`, `key` or `number` in the
// file at `path`; leaves the outcome in the four Ini* fields (all empty when
// the file cannot be read or nothing matches).
void ReadIniValue(const std::string& section, const std::string& key, std::int32_t number,
                  const std::string& path);

namespace ini {

// The read limits of a record's two lines (line end included) and the
// capacity of each text result field.
constexpr std::size_t kLine1Limit = 199;
constexpr std::size_t kLine2Limit = 399;
constexpr std::size_t kFieldLimit = 200;
// The number field is parsed from at most this many characters.
constexpr std::size_t kNumberLimit = 15;

// One record as the tool cuts it from its two lines as read. `value` is
// still the encrypted hexadecimal text.
struct Record {
  std::string section;
  std::string key;
  std::int32_t number = 0;
  std::string value;
  int line = 0;           // 1-based file line where line 1 begins
  int line2 = 0;          // 1-based file line where line 2 begins
  bool line1Cut = false;  // line 1 was longer than its limit (read in pieces)
  bool line2Cut = false;  // likewise line 2
};

// Cuts section (from line 1), number, key and value (from line 2) by the
// rules above; each text field is cut to kFieldLimit characters. A line 2
// without any ';' has an empty key, the whole line up to its line end as
// value, and the number of the line itself.
Record CutRecord(const std::string& line1, const std::string& line2);

// The number of a record: like atol on at most kNumberLimit characters
// (leading white space skipped, optional sign, digits up to the first other
// character, no digits give 0), held to the range of a signed 32-bit value.
std::int32_t ParseNumber(const std::string& text);

// Reads a configuration file record by record exactly as the lookup does.
class RecordReader {
 public:
  // Returns false when the file cannot be opened.
  bool Open(const std::string& path);
  // Reads the next record; false at the end. A last record without its
  // second line is not returned; its line is then in OrphanLine().
  bool Next(Record& record);
  [[nodiscard]] int OrphanLine() const { return orphanLine_; }

 private:
  bool Read(std::string& text, std::size_t limit, int& startLine, bool& cut);

  platform::TextReader reader_;
  int line_ = 1;  // file line of the next character to read
  int orphanLine_ = 0;
};

// What a lookup found: whether the file could be opened, whether a record
// matched, and that record (fields as cut, value still encrypted).
struct LookupResult {
  bool opened = false;
  bool matched = false;
  Record record;
  std::string value;  // the record's value decrypted (as IniValue holds it)
};

// ReadIniValue with its outcome told: fills the four Ini* fields exactly as
// ReadIniValue does and also returns what it found.
[[nodiscard]] LookupResult Lookup(const std::string& section, const std::string& key,
                                  std::int32_t number, const std::string& path);

}  // namespace ini

}  // namespace config
