// The run summary: one JSON line per run beside the log.
#include "run/run_summary.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/log.h"
#include "platform/platform.h"

namespace run {

namespace {

// The characters of Windows-1252's bytes 0x80 to 0x9F (the five bytes it
// leaves undefined keep their C1 code points, as Windows maps them).
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The code points of `text` when it is valid UTF-8 (no overlong forms, no
// surrogates, nothing past U+10FFFF); false otherwise.
bool DecodeUtf8(const std::string& text, std::vector<char32_t>& out) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int more = b < 0x80             ? 0
                     : (b & 0xE0) == 0xC0 ? 1
                     : (b & 0xF0) == 0xE0 ? 2
                     : (b & 0xF8) == 0xF0 ? 3
                                          : -1;
    if (more < 0 || i + static_cast<std::size_t>(more) >= text.size()) return false;
    char32_t c = more == 0 ? b : b & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      const auto n = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out.push_back(c);
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

void AppendEscape(std::string& out, unsigned unit) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u%04x", unit);
  out += buf;
}

void AppendCharacter(std::string& out, char32_t c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\b': out += "\\b"; return;
    case '\f': out += "\\f"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else if (c < 0x10000) {
    AppendEscape(out, static_cast<unsigned>(c));
  } else {
    c -= 0x10000;
    AppendEscape(out, 0xD800 + static_cast<unsigned>(c >> 10));
    AppendEscape(out, 0xDC00 + static_cast<unsigned>(c & 0x3FF));
  }
}

// A count, or null for -1 (no count reported).
std::string Count(long n) { return n < 0 ? "null" : std::to_string(n); }

// The run summary's one piece of process-wide state: set once the
// summary's failure has been said on standard error.
bool SummaryFailureReported = false;

}  // namespace

std::string JsonString(const std::string& text) {
  std::vector<char32_t> characters;
  if (!DecodeUtf8(text, characters)) {
    characters.clear();
    for (char ch : text) {
      const auto b = static_cast<unsigned char>(ch);
      characters.push_back(b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : b);
    }
  }
  std::string out = "\"";
  for (char32_t c : characters) AppendCharacter(out, c);
  return out + "\"";
}

std::string RunSummaryJson(const RunSummary& s) {
  return "{\"start\":" + JsonString(s.start) + ",\"end\":" + JsonString(s.end) +
         ",\"pid\":" + std::to_string(s.pid) + ",\"source\":" + JsonString(s.source) +
         ",\"work\":" + JsonString(s.work) + ",\"type\":" + JsonString(s.type) +
         ",\"update_mode\":" + (s.updateMode ? "true" : "false") +
         ",\"attempts\":" + std::to_string(s.attempts) +
         ",\"records\":" + std::to_string(s.records) + ",\"inserted\":" + Count(s.inserted) +
         ",\"updated\":" + Count(s.updated) + ",\"deleted\":" + Count(s.deleted) +
         ",\"native_error\":" + std::to_string(s.nativeError) +
         ",\"exit_code\":" + std::to_string(s.exitCode) + "}";
}

std::string SummaryTime() { return platform::LocalTimeText("%Y-%m-%dT%H:%M:%S"); }

void WriteRunSummary(const RunSummary& summary, const std::string& path,
                     const std::string& oldPath) {
  // A line feed on every platform: the file is read by JSON Lines tools.
  const int reason = klog::AppendRotated(path, oldPath, RunSummaryJson(summary) + "\n");
  if (reason == 0 || SummaryFailureReported) return;
  SummaryFailureReported = true;
  std::fprintf(stderr, "kranzel: Laufuebersicht %s kann nicht geschrieben werden: %s\n",
               path.c_str(), std::strerror(reason));
  std::fflush(stderr);
}

}  // namespace run
