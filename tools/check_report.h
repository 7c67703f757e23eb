// kranzel-check's output helpers: JSON text for --json, and the quoting of
// values in the plain report so that a blank or a control character at the
// end of a value stays visible.
#pragma once

#include <cstdio>
#include <string>

namespace check {

// `text` as a JSON string, quotes included. Bytes of 0x80 and above are
// passed through as they are (the files are single-byte text; a reader of the
// JSON sees the same bytes the database would).
inline std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// `text` between apostrophes, control characters shown as \n, \r, \t or \xNN.
inline std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "'";
}

}  // namespace check
