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

#include <cstdint>
#include <string>

// The outcome of the latest lookup, cleared at the start of each lookup.
extern std::string IniSection;   // at most 200 characters
extern std::string IniKey;       // at most 200 characters
extern std::int32_t IniNumber;
extern std::string IniValue;     // decrypted, at most 200 characters before

// The configuration file as the tool finds it from its working directory.
inline constexpr const char* kIniPath = "../../Files/Valdura.Ini";

// Looks up the first record matching `section`, `key` or `number` in the
// file at `path`; leaves the outcome in the four Ini* fields (all empty when
// the file cannot be read or nothing matches).
void ReadIniValue(const std::string& section, const std::string& key,
                  std::int32_t number, const std::string& path);
