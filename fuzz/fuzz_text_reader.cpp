// Fuzz target: the text-mode reader on arbitrary bytes, read with limits
// taken from the input. The first input byte seeds the sequence of limits;
// the rest is the file.
//
// Checked against a model of text mode written from its grammar (see
// platform/text_reader.h): a CR directly before an LF is dropped, a Ctrl-Z
// ends the input, a read returns at most `limit` characters and stops after
// an LF, and a line is handed out up to its first NUL byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_file.h"
#include "platform/text_reader.h"

namespace {

std::string AsRead(const std::uint8_t* p, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] == 0x1A) break;
    if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') continue;
    out.push_back(static_cast<char>(p[i]));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static fuzz::MemFile file;
  file.Set(data + 1, size - 1);
  const std::string expected = AsRead(data + 1, size - 1);

  platform::TextReader reader;
  if (!reader.Open(file.path())) fuzz::Fail("TextReader: memory file not opened");
  // Limits 1 to 64 and the importers' and configuration reader's own.
  static constexpr std::size_t kLimits[] = {199, 399, 272, 368, 364, 66, 135, 500};
  unsigned seed = data[0];
  std::size_t at = 0;
  std::string line;
  for (;;) {
    seed = seed * 1103515245u + 12345u;
    std::size_t limit = (seed >> 16) % 2 ? kLimits[(seed >> 8) % 8] : 1 + (seed >> 20) % 64;
    bool got = reader.ReadLine(line, limit);
    if (!got) {
      if (at != expected.size()) fuzz::Fail("TextReader: ended before the end of the input");
      if (reader.ReadLine(line, limit)) fuzz::Fail("TextReader: read after the end");
      break;
    }
    std::size_t count = reader.LastReadCount();
    if (count == 0 || count > limit || at + count > expected.size()) {
      fuzz::Fail("TextReader: read count outside its bounds");
    }
    std::string chunk = expected.substr(at, count);
    std::size_t lf = chunk.find('\n');
    if (lf != std::string::npos && lf + 1 != count) fuzz::Fail("TextReader: read past a line feed");
    if (reader.LastReadEndedLine() != (lf != std::string::npos)) {
      fuzz::Fail("TextReader: line end not told");
    }
    if (lf == std::string::npos && count < limit && at + count != expected.size()) {
      fuzz::Fail("TextReader: stopped early inside a line");
    }
    if (line != chunk.substr(0, chunk.find('\0')))
      fuzz::Fail("TextReader: line differs from the input");
    at += count;
  }
  return 0;
}
