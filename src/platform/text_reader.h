// TextReader: reads a file as the installations' original platform reads a
// file opened in text mode, so interface files and the configuration file
// read the same on every platform:
//
//   stream    := byte*
//   as read   := the stream with every CR (0x0D) directly before an LF (0x0A)
//                dropped, ending at the first Ctrl-Z (0x1A) or the end of file
//   ReadLine(N) returns the next at most N characters as read, stopping after
//                an LF (which stays in the text), like fgets with a buffer of
//                N+1 bytes.
//
// A line is handed out as C code sees it after fgets: up to its first NUL
// byte (the characters after a NUL are consumed but not returned).
//
// Unlike fgets, a read error is told apart from the end of the file: the
// line it cut is not handed out, ReadLine returns false, and Failed() says
// so until the file is opened again (a Rewind does not make a file that
// failed trustworthy).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace platform {

class TextReader {
 public:
  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Opens `path` for reading. Returns false when the file cannot be opened
  // or is not a regular file (a directory, a FIFO, a device).
  bool Open(const std::string& path);
  [[nodiscard]] bool IsOpen() const { return file_ != nullptr; }
  void Close();

  // Reads the next line with a limit of `limit` characters (limit >= 1) into
  // `line`. Returns false when nothing could be read: end of file, a Ctrl-Z,
  // or a read error (then Failed() is true).
  bool ReadLine(std::string& line, std::size_t limit);

  // Whether a read failed since the file was opened, the operating system's
  // reason, and the path the file was opened with.
  [[nodiscard]] bool Failed() const { return failed_; }
  [[nodiscard]] const std::string& ErrorText() const { return error_; }
  [[nodiscard]] const std::string& Path() const { return path_; }

  // Whether the file's size or time of last writing now differs from when
  // it was opened: a delivery still being written is no stable file.
  [[nodiscard]] bool Changed() const;

  // The characters the last ReadLine consumed (those after a NUL byte and
  // the line end included), and whether it stopped after a line feed. A read
  // that consumed `limit` characters without a line feed cut a longer line.
  [[nodiscard]] std::size_t LastReadCount() const { return last_count_; }
  [[nodiscard]] bool LastReadEndedLine() const { return last_lf_; }

  // Reads on to the end of the line that the last ReadLine cut at its limit
  // and returns the characters it consumed there, the line end included (0
  // when the file ends right there). Nothing of it is kept. Afterwards
  // LastReadCount and LastReadEndedLine tell of the rest.
  std::size_t SkipRestOfLine();

  // Sets the position back to the beginning of the file; a Ctrl-Z or end of
  // file seen before no longer counts.
  void Rewind();

 private:
  // Reads the next block of the file behind the bytes not yet consumed (at
  // most a CR waiting for the byte after it). False at the end of the file
  // or on a read error (then failed_ is set); the kept bytes stay.
  bool Fill();

  std::FILE* file_ = nullptr;
  unsigned char buf_[65536];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool ended_ = false;   // end of file or Ctrl-Z reached
  bool failed_ = false;  // a read error; nothing more is read
  std::string error_;
  std::string path_;
  FileStamp opened_;
  bool stamped_ = false;
  std::size_t last_count_ = 0;
  bool last_lf_ = false;
};

}  // namespace platform
