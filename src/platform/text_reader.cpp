// Text-mode line reader shared by the configuration reader and the importers.
#include "platform/text_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {
constexpr int kCtrlZ = 0x1A;
}

TextReader::~TextReader() { Close(); }

bool TextReader::Open(const std::string& path) {
  Close();
  file_ = OpenRegularFile(path);
  pos_ = len_ = 0;
  ended_ = false;
  failed_ = false;
  error_.clear();
  path_ = path;
  stamped_ = file_ != nullptr && StampOf(file_, opened_);
  return file_ != nullptr;
}

bool TextReader::Changed() const {
  FileStamp now;
  return stamped_ && file_ != nullptr && StampOf(file_, now) && !(now == opened_);
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
}

bool TextReader::Fill() {
  const std::size_t keep = len_ - pos_;
  if (keep > 0) std::memmove(buf_, buf_ + pos_, keep);
  pos_ = 0;
  len_ = keep;
  if (file_ == nullptr || failed_) return false;
  errno = 0;
  const std::size_t got = std::fread(buf_ + keep, 1, sizeof buf_ - keep, file_);
  len_ += got;
  if (got == 0) {
    if (std::ferror(file_)) {
      failed_ = true;
      error_ = std::strerror(errno != 0 ? errno : EIO);
    }
    return false;
  }
  return true;
}

namespace {

// The first of `c` in [from, to), or `to`.
const unsigned char* Find(const unsigned char* from, const unsigned char* to, unsigned char c) {
  const void* at = std::memchr(from, c, static_cast<std::size_t>(to - from));
  return at != nullptr ? static_cast<const unsigned char*>(at) : to;
}

}  // namespace

// The block read ahead is scanned for the bytes that need a decision (LF,
// CR, Ctrl-Z, NUL); the plain bytes between them are taken as one run, each
// one character.
bool TextReader::ReadLine(std::string& line, std::size_t limit) {
  line.clear();
  std::size_t count = 0;
  bool cut = false;  // a NUL byte ends the line as C code sees it
  bool ended_line = false;
  while (count < limit && !ended_) {
    if (pos_ == len_ && !Fill()) {
      ended_ = true;
      break;
    }
    // Before the first special byte every byte is a character, so the run
    // can take at most as many bytes as characters are still allowed.
    const unsigned char* from = buf_ + pos_;
    const unsigned char* to = from + std::min(len_ - pos_, limit - count);
    to = Find(from, to, '\n');
    to = Find(from, to, '\r');
    to = Find(from, to, kCtrlZ);
    to = Find(from, to, '\0');
    const auto run = static_cast<std::size_t>(to - from);
    if (!cut) line.append(reinterpret_cast<const char*>(from), run);
    count += run;
    pos_ += run;
    if (count == limit || pos_ == len_) continue;

    const unsigned char c = buf_[pos_];
    if (c == kCtrlZ) {
      ended_ = true;
      break;
    }
    ++pos_;
    ++count;
    if (c == '\0') {
      cut = true;
      continue;
    }
    if (c == '\r') {
      // A CR directly before an LF is dropped; the LF may be the first byte
      // of the next block.
      if (pos_ == len_) {
        --pos_;  // kept by Fill
        const bool more = Fill();
        pos_ = 1;
        if (!more) {
          if (!cut) line.push_back('\r');
          continue;
        }
      }
      if (buf_[pos_] != '\n') {
        if (!cut) line.push_back('\r');
        continue;
      }
      ++pos_;
    }
    // A line feed.
    if (!cut) line.push_back('\n');
    ended_line = true;
    break;
  }
  last_count_ = count;
  last_lf_ = ended_line;
  if (failed_) {
    // What came before the error is no line of the file.
    line.clear();
    return false;
  }
  return count > 0;
}

std::size_t TextReader::SkipRestOfLine() {
  std::size_t total = 0;
  std::string rest;
  while (ReadLine(rest, sizeof buf_)) {
    total += last_count_;
    if (last_lf_) break;
  }
  last_count_ = total;
  return total;
}

}  // namespace platform
