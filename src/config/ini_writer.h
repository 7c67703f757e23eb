// Writing the configuration file: the records kranzel-ini and the tests
// write, so that the tool's lookups (empty section, number 0) find each key
// and nothing else.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace config::ini {

// The longest data-source name that reaches a database: kranzel takes a
// DATABASE value of 1 to 40 characters, but the ODBC driver manager refuses
// names over SQL_MAX_DSN_LENGTH (32) at SQLConnect (unixODBC: "Invalid
// string or buffer length").
constexpr std::size_t kMaxDataSourceName = 32;

// Sets KEY to `plain` (stored encrypted) in the file at `path`, replacing
// the first record whose key is KEY or appending a new record. The record
// written has a non-empty section and a number unique in the file and not 0,
// so it can never answer a lookup for another key. Creates the file when
// missing, readable and writable by its owner only; an existing file keeps
// its mode and owner. Refuses a value the tool would not use as given (one
// longer than the reader takes, a DATABASE the driver manager refuses).
// Returns false with `error` set (naming the limit) when the value is refused
// or the file cannot be read or written.
[[nodiscard]] bool SetValue(const std::string& path, const std::string& key,
                            const std::string& plain, std::string& error);

// One problem that `Check` found, in words an administrator can act on.
struct Finding {
  int line;  // 1-based line of the file where it shows, 0 if none
  std::string message;
};

// Reports what would make the tool read wrong credentials from the file:
// records shadowing the lookups ahead of the wanted keys, missing keys, a
// DATABASE value that is empty or longer than the driver manager takes
// (kMaxDataSourceName), lower-case hex digits, a last
// record without its second line. Returns false when the file cannot be read.
[[nodiscard]] bool Check(const std::string& path, std::vector<Finding>& findings,
                         std::string& error);

}  // namespace config::ini
