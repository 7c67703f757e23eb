// Writing and checking the configuration file for kranzel-ini and the tests.
//
// A record written here reads, by the tool's cutting rules, as
//   line 1: "[KEY];KEY;"            section KEY (never empty)
//   line 2: "<n>;KEY;<hex>"         number n unique in the file and not 0
// so it answers the tool's lookups (empty section, number 0) only for its own
// key. Other records of the file are kept byte for byte; new lines take the
// file's line end (CR LF when its first line has one). The file is replaced
// atomically, and only after the new text has been read back through the
// tool's own record reader.
#include "config/ini_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

#include "config/cipher.h"
#include "config/ini.h"
#include "platform/platform.h"

namespace config::ini {

namespace {

constexpr char kCtrlZ = 0x1A;
// The longest plain value whose hexadecimal text fits the 200-character
// value field in whole blocks (12 blocks of 16 digits).
constexpr std::size_t kMaxPlain = kFieldLimit / 16 * 8;
const char* const kWantedKeys[] = {"LOGIN", "PASS", "DB_SYSTEM", "DATABASE"};

std::string ErrnoText() { return std::strerror(errno); }

// Reads the whole file. A missing file is not an error (`exists` false).
bool ReadWhole(const std::string& path, std::string& content, bool& exists, std::string& error) {
  content.clear();
  exists = false;
  // As the tool opens it: a regular file only, and never waiting (a FIFO
  // would block the open, a device like /dev/zero never end).
  std::string why;
  std::FILE* f = platform::OpenRegularFile(path, why);
  if (f == nullptr) {
    if (errno == ENOENT) return true;
    error = "cannot open " + path + ": " + why;
    return false;
  }
  exists = true;
  char buf[8192];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// The file's lines, each with its line feed (the last one may lack it).
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < content.size()) {
    std::size_t lf = content.find('\n', from);
    std::size_t end = lf == std::string::npos ? content.size() : lf + 1;
    lines.push_back(content.substr(from, end - from));
    from = end;
  }
  return lines;
}

bool EndsWithLf(const std::string& line) { return !line.empty() && line.back() == '\n'; }

// A line as the tool reads it: a CR before the LF is dropped.
std::string AsRead(std::string line) {
  if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n') {
    line.erase(line.size() - 2, 1);
  }
  return line;
}

std::string LineEndOf(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (EndsWithLf(line)) return AsRead(line) != line ? "\r\n" : "\n";
  }
  return platform::kTextLineEnd;
}

bool ValidKey(const std::string& key, std::string& error) {
  if (key.empty()) {
    error = "the key is empty";
    return false;
  }
  for (char c : key) {
    if (c == ';' || c == '\n' || c == '\r' || c == '\0' || c == kCtrlZ) {
      error = "the key must not hold ';', a line end, a zero byte or a Ctrl-Z";
      return false;
    }
  }
  // Line 1 is "[KEY];KEY;" and must fit its read limit with its line end.
  if (2 * key.size() + 4 > kLine1Limit - 1) {
    error = "the key is longer than " + std::to_string((kLine1Limit - 1 - 4) / 2) + " characters";
    return false;
  }
  return true;
}

bool ValidPlain(const std::string& key, const std::string& plain, std::string& error) {
  if (key == "DATABASE" && (plain.empty() || plain.size() > kMaxDataSourceName)) {
    error = "the DATABASE value must have 1 to " + std::to_string(kMaxDataSourceName) +
            " characters, not " + std::to_string(plain.size()) +
            " (the ODBC driver manager refuses longer data-source names)";
    return false;
  }
  if (plain.find('\0') != std::string::npos) {
    error = "the value must not hold a zero byte";
    return false;
  }
  if (plain.size() > kMaxPlain) {
    error = "the value is longer than " + std::to_string(kMaxPlain) +
            " characters (the tool reads at most " + std::to_string(kFieldLimit) +
            " hexadecimal digits)";
    return false;
  }
  return true;
}

// An empty value is stored as one encrypted block of zero bytes: an empty
// hexadecimal text would read as the line end and decrypt to garbage.
std::string EncryptValue(const std::string& plain) {
  return EncryptHex(plain.empty() ? std::string(8, '\0') : plain, kIniKey);
}

// Writes `content` to a new file beside `path` and renames it onto `path`,
// keeping the mode and (where allowed) the owner of the file it replaces.
bool ReplaceFile(const std::string& path, const std::string& content, const std::string& key,
                 std::int32_t number, const std::string& plain, std::string& error) {
  std::string temp;
  if (!platform::WriteFileBeside(path, content, temp, error)) return false;

  // Read the new text back as the tool will: the first record with the key
  // must be the one just written.
  bool ok = false;
  {
    RecordReader reader;  // closed before the rename
    if (reader.Open(temp)) {
      Record record;
      while (reader.Next(record)) {
        if (record.key != key) continue;
        ok = record.section == key && record.number == number &&
             PlainText(DecryptHex(record.value, kIniKey)) == plain;
        break;
      }
    }
  }
  if (!ok) {
    platform::RemoveFile(temp);
    error =
        "the file's layout would make the tool misread the new record; "
        "nothing was changed (see 'kranzel-ini check " +
        path + "')";
    return false;
  }
  if (!platform::RenameReplace(temp, path)) {
    error = "cannot replace " + path + ": " + ErrnoText();
    platform::RemoveFile(temp);
    return false;
  }
  return true;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool IsLowerHex(char c) { return c >= 'a' && c <= 'f'; }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Line number (1-based) of byte `at` in `content`.
int LineOf(const std::string& content, std::size_t at) {
  return 1 + static_cast<int>(std::count(content.begin(),
                                         content.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

// Does this record answer the tool's lookup of `key` (empty section, number 0)?
bool Answers(const Record& record, const std::string& key) {
  return record.section.empty() || record.key == key || record.number == 0;
}

void CheckValue(const Record& record, const std::string& key, std::vector<Finding>& findings) {
  const std::string& value = record.value;
  auto add = [&](const std::string& message) {
    findings.push_back({record.line2, "the value of " + key + " " + message});
  };
  if (value.empty() || value == "\n") {
    add("is empty; the tool reads the line end as its value (write it with 'kranzel-ini set')");
    return;
  }
  if (std::any_of(value.begin(), value.end(), IsLowerHex)) {
    add("holds lower-case hexadecimal digits; the tool reads only 'A' to 'F' as letters and "
        "decrypts it wrongly");
  }
  bool otherCharacters = std::any_of(value.begin(), value.end(),
                                     [](char c) { return !IsUpperHex(c) && !IsLowerHex(c); });
  if (otherCharacters || value.size() % 16 != 0) {
    add("is not whole blocks of 16 hexadecimal digits");
  }
  if (value.size() >= kFieldLimit) {
    add("may be longer than the " + std::to_string(kFieldLimit) +
        " hexadecimal digits the tool reads");
  }
}

// Where the decrypted `value` shows that it was not encrypted under the
// file's key, or was damaged: the position (1-based) of the first byte
// before the value's end that no one types into a credential (anything but
// printable ASCII, the Latin-1 letters of Windows-1252 and its euro sign),
// or of a non-zero byte after the zero bytes that end it (a value written
// by kranzel-ini is padded with zero bytes only). 0 when there is none. A
// value decrypted under the wrong key passes this with a chance of about
// 0.6 per byte, so an 8-character value is caught 98 times in 100.
std::size_t GarbledAt(const std::string& decrypted) {
  const std::size_t end = decrypted.find('\0');
  for (std::size_t i = 0; i < decrypted.size(); ++i) {
    const auto c = static_cast<unsigned char>(decrypted[i]);
    const bool typed =
        (c >= 0x20 && c <= 0x7E) || (c >= 0xC0 && c != 0xD7 && c != 0xF7) || c == 0x80;
    if (i < end ? !typed : c != 0) return i + 1;
  }
  return 0;
}

}  // namespace

bool SetValue(const std::string& givenPath, const std::string& key, const std::string& plain,
              std::string& error) {
  if (!ValidKey(key, error) || !ValidPlain(key, plain, error)) return false;
  // Through a symbolic link the file it points to is replaced, not the link.
  std::error_code ec;
  const std::string path = std::filesystem::is_symlink(givenPath, ec)
                               ? std::filesystem::canonical(givenPath, ec).string()
                               : givenPath;
  if (path.empty()) {
    error = "cannot follow the link " + givenPath;
    return false;
  }
  std::string content;
  bool exists = false;
  if (!ReadWhole(path, content, exists, error)) return false;

  std::vector<std::string> lines = SplitLines(content);
  const std::string eol = LineEndOf(lines);
  const std::size_t records = lines.size() / 2;

  std::size_t replace = records;  // index of the record to replace, or none
  std::vector<std::int32_t> numbers(records);
  for (std::size_t i = 0; i < records; ++i) {
    Record record = CutRecord(AsRead(lines[2 * i]), AsRead(lines[2 * i + 1]));
    numbers[i] = record.number;
    if (replace == records && record.key == key) replace = i;
  }

  std::set<std::int32_t> taken;
  for (std::size_t i = 0; i < records; ++i) {
    if (i != replace) taken.insert(numbers[i]);
  }
  std::int32_t number = 0;
  if (replace < records && numbers[replace] != 0 && taken.count(numbers[replace]) == 0) {
    number = numbers[replace];
  } else {
    std::int32_t highest = taken.empty() ? 0 : std::max<std::int32_t>(0, *taken.rbegin());
    if (highest < std::numeric_limits<std::int32_t>::max()) {
      number = highest + 1;
    } else {
      for (number = 1; taken.count(number) != 0; ++number) {
      }
    }
  }

  const std::string line1 = "[" + key + "];" + key + ";" + eol;
  const std::string line2 = std::to_string(number) + ";" + key + ";" + EncryptValue(plain) + eol;
  if (AsRead(line1).size() > kLine1Limit || AsRead(line2).size() > kLine2Limit) {
    error = "the record would be longer than the tool reads";
    return false;
  }
  if (replace < records) {
    lines[2 * replace] = line1;
    lines[2 * replace + 1] = line2;
  } else {
    // A last line without its partner stays last, where the tool ignores it.
    std::size_t at = 2 * records;
    if (at > 0 && !EndsWithLf(lines[at - 1])) lines[at - 1] += eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), {line1, line2});
  }

  std::string updated;
  for (const std::string& line : lines) updated += line;
  return ReplaceFile(path, updated, key, number, plain, error);
}

bool Check(const std::string& path, std::vector<Finding>& findings, std::string& error) {
  findings.clear();
  std::string content;
  bool exists = false;
  if (!ReadWhole(path, content, exists, error)) return false;
  if (!exists) {
    error = "cannot open " + path + ": " + std::strerror(ENOENT);
    return false;
  }

  std::size_t ctrlZ = content.find(kCtrlZ);
  if (ctrlZ != std::string::npos && ctrlZ + 1 < content.size()) {
    findings.push_back(
        {LineOf(content, ctrlZ), "a Ctrl-Z character; the tool stops reading the file there"});
  }
  std::size_t nul = content.find('\0');
  if (nul != std::string::npos && nul < ctrlZ) {
    findings.push_back(
        {LineOf(content, nul), "a zero byte; the tool reads this line only up to it"});
  }

  RecordReader reader;
  if (!reader.Open(path)) {
    std::string why;
    if (std::FILE* again = platform::OpenRegularFile(path, why)) std::fclose(again);
    error = "cannot open " + path + (why.empty() ? std::string() : ": " + why);
    return false;
  }
  std::vector<Record> records;
  Record record;
  while (reader.Next(record)) records.push_back(record);
  for (const Record& r : records) {
    if (r.line1Cut) {
      findings.push_back({r.line, "longer than " + std::to_string(kLine1Limit - 1) +
                                      " characters (first line of a record); the tool reads it "
                                      "in pieces and every record after it out of step"});
    }
    if (r.line2Cut) {
      findings.push_back({r.line2, "longer than " + std::to_string(kLine2Limit - 1) +
                                       " characters (second line of a record); the tool reads it "
                                       "in pieces and every record after it out of step"});
    }
  }
  if (reader.OrphanLine() != 0) {
    findings.push_back(
        {reader.OrphanLine(), "the last record has no second line; the tool ignores it"});
  }

  // What each of the tool's four lookups finds.
  std::vector<std::vector<std::string>> shadowed(records.size());
  for (const char* wanted : kWantedKeys) {
    const std::string key = wanted;
    std::size_t answer = records.size();
    std::size_t own = records.size();
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (answer == records.size() && Answers(records[i], key)) answer = i;
      if (records[i].key == key) {
        if (own == records.size()) {
          own = i;
        } else {
          findings.push_back({records[i].line, "a second record for " + key +
                                                   "; the tool reads only the first (line " +
                                                   std::to_string(records[own].line) + ")"});
        }
      }
    }
    if (own == records.size()) findings.push_back({0, "no record for " + key});
    if (answer == records.size()) continue;
    const Record& found = records[answer];
    if (found.key != key) {
      shadowed[answer].push_back(key);
      continue;
    }
    CheckValue(found, key, findings);
    if (const std::size_t at = GarbledAt(DecryptHex(found.value, kIniKey)); at != 0) {
      // The bytes themselves are not shown: the value may be the password.
      findings.push_back({found.line2, "the value of " + key +
                                           " decrypts to unprintable bytes (from byte " +
                                           std::to_string(at) +
                                           "); it was not encrypted with the key the tool uses, "
                                           "or it is damaged, and the tool would use those "
                                           "bytes (write it again with 'kranzel-ini set')"});
    }
    if (key == "DATABASE") {
      std::size_t length = PlainText(DecryptHex(found.value, kIniKey)).size();
      if (length == 0) {
        findings.push_back({found.line2,
                            "the DATABASE value is empty; the tool connects "
                            "without a data source"});
      } else if (length > 40) {
        findings.push_back({found.line2, "the DATABASE value has " + std::to_string(length) +
                                             " characters; the tool takes only 1 to 40 and "
                                             "connects without a data source"});
      } else if (length > kMaxDataSourceName) {
        findings.push_back({found.line2, "the DATABASE value has " + std::to_string(length) +
                                             " characters; the ODBC driver manager refuses "
                                             "data-source names over " +
                                             std::to_string(kMaxDataSourceName)});
      }
    }
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (shadowed[i].empty()) continue;
    const Record& r = records[i];
    std::string keys;
    for (std::size_t k = 0; k < shadowed[i].size(); ++k) {
      if (k > 0) keys += k + 1 == shadowed[i].size() ? " and " : ", ";
      keys += shadowed[i][k];
    }
    std::string why;
    if (r.number == 0) why = "its number is 0 or not a number";
    if (r.section.empty()) {
      if (!why.empty()) why += "; ";
      why += "its first line has fewer than two ';', so its section is empty";
    }
    std::string text = "the record with key " + Quoted(r.key);
    text += " answers the tool's lookup of " + keys;
    text += " (";
    text += why;
    text += "); move it after those records or give it a non-zero number and a section";
    findings.push_back({r.line, text});
  }

  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    if ((a.line == 0) != (b.line == 0)) return b.line == 0;
    return a.line < b.line;
  });
  return true;
}

}  // namespace config::ini
