// Writing the configuration file: the records kranzel-ini and the tests
// write, so that the tool's lookups (empty section, number 0) find each key
// and nothing else.
#pragma once

#include <string>
#include <vector>

namespace ini {

// Sets KEY to `plain` (stored encrypted) in the file at `path`, replacing
// the first record whose key is KEY or appending a new record. The record
// written has a non-empty section and a number unique in the file and not 0,
// so it can never answer a lookup for another key. Creates the file when
// missing. Returns false with `error` set when the file cannot be read or
// written.
bool SetValue(const std::string& path, const std::string& key,
              const std::string& plain, std::string& error);

// One problem that `Check` found, in words an administrator can act on.
struct Finding {
  int line;             // 1-based line of the file where it shows, 0 if none
  std::string message;
};

// Reports what would make the tool read wrong credentials from the file:
// records shadowing the lookups ahead of the wanted keys, missing keys, a
// DATABASE value longer than 40 characters, lower-case hex digits, a last
// record without its second line. Returns false when the file cannot be read.
bool Check(const std::string& path, std::vector<Finding>& findings,
           std::string& error);

}  // namespace ini
