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
  if (it == Plain.end())
    it = Plain.emplace(hex, config::PlainText(config::DecryptHex(hex, config::kIniKey))).first;
  return it->second;
}

bool Matches(const config::ini::Record& r, const std::string& section, const std::string& key,
             std::int32_t number) {
  return r.section == section || r.key == key || r.number == number;
}

void CheckLookup(const std::string& path, const std::string& section, const std::string& key,
                 std::int32_t number) {
  config::ReadIniValue(section, key, number, path);
  if (config::IniSection.size() > config::ini::kFieldLimit ||
      config::IniKey.size() > config::ini::kFieldLimit) {
    fuzz::Fail("ReadIniValue: field longer than its capacity");
  }
  // The value is decrypted from at most 200 digits: at most 13 blocks.
  if (config::IniValue.size() > 104 || config::IniValue.find('\0') != std::string::npos) {
    fuzz::Fail("ReadIniValue: value not a decrypted text of at most 200 digits");
  }

  // The same file, record by record, as kranzel-ini reads it.
  config::ini::RecordReader reader;
  if (!reader.Open(path)) fuzz::Fail("RecordReader: memory file not opened");
  config::ini::Record record;
  while (reader.Next(record)) {
    if (record.section.size() > config::ini::kFieldLimit ||
        record.key.size() > config::ini::kFieldLimit ||
        record.value.size() > config::ini::kFieldLimit) {
      fuzz::Fail("CutRecord: field longer than its capacity");
    }
    if (Matches(record, section, key, number)) {
      if (config::IniSection != record.section || config::IniKey != record.key ||
          config::IniNumber != record.number || config::IniValue != Decrypted(record.value)) {
        fuzz::Fail("ReadIniValue: not the first matching record");
      }
      return;
    }
  }
  if (!config::IniSection.empty() || !config::IniKey.empty() || config::IniNumber != 0 ||
      !config::IniValue.empty()) {
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

  config::ini::RecordReader reader;
  config::ini::Record first;
  if (reader.Open(file.path()) && reader.Next(first)) {
    CheckLookup(file.path(), first.section, first.key, first.number);
    // A lookup that the first record cannot answer reaches later records.
    CheckLookup(file.path(), first.section + "?", first.key + "?", first.number == 7 ? 8 : 7);
  }
  return 0;
}
