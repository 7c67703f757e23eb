// The statement journal: appended to and flushed statement by statement.
#include "journal.h"

namespace standin {

bool Journal::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void Journal::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void Journal::Write(const std::string& text) {
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace standin
