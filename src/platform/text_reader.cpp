// Text-mode line reader shared by the configuration reader and the importers.
#include "platform/text_reader.h"

#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {
constexpr int kCtrlZ = 0x1A;
}

TextReader::~TextReader() { Close(); }

bool TextReader::Open(const std::string& path) {
  Close();
#ifdef _WIN32
  file_ = OpenRegularFileForReading(path);
#else
  file_ = std::fopen(path.c_str(), "rb");
#endif
  pos_ = len_ = 0;
  ended_ = false;
  pending_ = -1;
  return file_ != nullptr;
}

void TextReader::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void TextReader::Rewind() {
  if (file_ == nullptr) return;
  std::rewind(file_);
  pos_ = len_ = 0;
  ended_ = false;
  pending_ = -1;
}

int TextReader::Raw() {
  if (pending_ >= 0) {
    int c = pending_;
    pending_ = -1;
    return c;
  }
  if (pos_ == len_) {
    if (file_ == nullptr) return -1;
    len_ = std::fread(buf_, 1, sizeof buf_, file_);
    pos_ = 0;
    if (len_ == 0) return -1;
  }
  return buf_[pos_++];
}

int TextReader::Next() {
  if (ended_) return -1;
  int c = Raw();
  if (c == '\r') {
    int after = Raw();
    if (after == '\n') return '\n';
    pending_ = after;  // a lone CR stays; -1 needs no keeping
  }
  if (c == -1 || c == kCtrlZ) {
    ended_ = true;
    return -1;
  }
  return c;
}

bool TextReader::ReadLine(std::string& line, std::size_t limit) {
  line.clear();
  std::size_t count = 0;
  bool cut = false;  // a NUL byte ends the line as C code sees it
  bool ended_line = false;
  while (count < limit) {
    int c = Next();
    if (c == -1) break;
    ++count;
    if (c == 0) cut = true;
    if (!cut) line.push_back(static_cast<char>(c));
    if (c == '\n') {
      ended_line = true;
      break;
    }
  }
  last_count_ = count;
  last_lf_ = ended_line;
  return count > 0;
}

}  // namespace platform
