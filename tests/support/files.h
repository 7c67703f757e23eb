// Files as the tests and the bench handle them: whole, as bytes, with no
// text-mode translation, so that what a program wrote is what is compared.
#pragma once

#include <string>

namespace support {

// The bytes of the file at `path`; empty when it cannot be read (a log that
// was never written reads as an empty log).
std::string Slurp(const std::string& path);

// Replaces the file at `path` with `content`, making its folder when there is
// none. Throws std::runtime_error when the file cannot be written, so that a
// test never goes on with an installation that is not what it set up.
void Spit(const std::string& path, const std::string& content);

// A new, empty folder in the system's temporary folder, named `prefix`
// followed by a unique suffix. Throws std::runtime_error when none can be made.
std::string MakeTempDir(const std::string& prefix);

// `text` with every line feed preceded by a carriage return (a Windows
// program's text line ends).
std::string CrLf(const std::string& text);

// True when every line feed in `text` follows a carriage return and no
// carriage return stands alone.
bool AllCrLf(const std::string& text);

// `text` with every CR LF read as a line feed; a carriage return alone stays.
std::string LfText(const std::string& text);

}  // namespace support
