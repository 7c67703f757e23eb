// The date-and-time text of the MND and IDN files: their 14-character field
// YYYYMMDDHHMMSS is handed to the database as "YYYYMMDD HH:MM:SS", which it
// converts with style 120.
#pragma once

#include <string>

namespace importers {

// Builds the text from the trimmed field: empty for an empty field (so that
// NULLIF writes NULL), otherwise characters 1-8, a blank, 9-10, ':', 11-12,
// ':', 13-14. A shorter field yields the pieces it has, at their fixed
// positions, and the database decides whether that converts.
inline std::string DateTimeText(const std::string& field) {
  if (field.empty()) return {};
  auto piece = [&field](std::size_t from, std::size_t count) {
    return from < field.size() ? field.substr(from, count) : std::string();
  };
  return piece(0, 8) + " " + piece(8, 2) + ":" + piece(10, 2) + ":" + piece(12, 2);
}

}  // namespace importers
