// The statement journal a DSN names (attribute Journal): every statement
// text the server receives, exactly as received, followed by one "\n", in
// the order received. Tests read it to see what the tool sent.
#pragma once

#include <cstdio>
#include <string>

namespace standin {

// An open journal file; closed by the destructor.
class Journal {
 public:
  Journal() = default;
  ~Journal() { Close(); }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens `path` for appending (so a test may truncate it between runs).
  // False when it cannot be opened.
  bool Open(const std::string& path);
  void Close();
  // Appends `text` and "\n" and flushes, so a reader sees every statement
  // that has been received; does nothing when no journal is open.
  void Write(const std::string& text);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace standin
