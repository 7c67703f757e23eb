// Fuzz target: the configuration reader (ReadIniValue) on arbitrary file
// bytes, with the four lookups the tool makes at start-up and one with the
// section, key and number of the file's first record.
//
// Checked, besides what the sanitizers see: each text field stays within
// its capacity; a lookup that matches leaves the fields of a record that
// satisfies the matching rule, and the reader's records before it do not;
// a lookup without a match leaves all four fields empty.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "config/cipher.h"
#include "config/ini.h"
#include "fuzz_file.h"

namespace {

// Decrypted values of this input: the key setup dominates the run time.
std::map<std::string, std::string> Plain;

const std::string& Decrypted(const std::string& hex) {
  auto it = Plain.find(hex);
  if (it == Plain.end()) it = Plain.emplace(hex, PlainText(DecryptHex(hex, kIniKey))).first;
  return it->second;
}

bool Matches(const ini::Record& r, const std::string& section, const std::string& key,
             std::int32_t number) {
  return r.section == section || r.key == key || r.number == number;
}

void CheckLookup(const std::string& path, const std::string& section, const std::string& key,
                 std::int32_t number) {
  ReadIniValue(section, key, number, path);
  if (IniSection.size() > ini::kFieldLimit || IniKey.size() > ini::kFieldLimit) {
    fuzz::Fail("ReadIniValue: field longer than its capacity");
  }
  // The value is decrypted from at most 200 digits: at most 13 blocks.
  if (IniValue.size() > 104 || IniValue.find('\0') != std::string::npos) {
    fuzz::Fail("ReadIniValue: value not a decrypted text of at most 200 digits");
  }

  // The same file, record by record, as kranzel-ini reads it.
  ini::RecordReader reader;
  if (!reader.Open(path)) fuzz::Fail("RecordReader: memory file not opened");
  ini::Record record;
  while (reader.Next(record)) {
    if (record.section.size() > ini::kFieldLimit || record.key.size() > ini::kFieldLimit ||
        record.value.size() > ini::kFieldLimit) {
      fuzz::Fail("CutRecord: field longer than its capacity");
    }
    if (Matches(record, section, key, number)) {
      if (IniSection != record.section || IniKey != record.key || IniNumber != record.number ||
          IniValue != Decrypted(record.value)) {
        fuzz::Fail("ReadIniValue: not the first matching record");
      }
      return;
    }
  }
  if (!IniSection.empty() || !IniKey.empty() || IniNumber != 0 || !IniValue.empty()) {
    fuzz::Fail("ReadIniValue: fields left filled without a match");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::MemFile file;
  file.Set(data, size);
  Plain.clear();
  for (const char* key : {"LOGIN", "PASS", "DB_SYSTEM", "DATABASE"})
    CheckLookup(file.path(), "", key, 0);

  ini::RecordReader reader;
  ini::Record first;
  if (reader.Open(file.path()) && reader.Next(first)) {
    CheckLookup(file.path(), first.section, first.key, first.number);
    // A lookup that the first record cannot answer reaches later records.
    CheckLookup(file.path(), first.section + "?", first.key + "?", first.number == 7 ? 8 : 7);
  }
  return 0;
}
