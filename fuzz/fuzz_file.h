// An in-memory file with a path, for the fuzz targets: the readers under
// test open files by name, so each input is written to an anonymous memory
// file and handed over as /proc/self/fd/<n>.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz {

class MemFile {
 public:
  MemFile() {
    fd_ = memfd_create("kranzel-fuzz", 0);
    if (fd_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemFile() { close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  // Replaces the content with `size` bytes at `data`.
  void Set(const void* data, std::size_t size) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, p + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }
  void Set(const std::string& text) { Set(text.data(), text.size()); }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Ends the process so that libFuzzer records the input as a finding.
[[noreturn]] inline void Fail(const char* what) {
  (void)!write(2, what, __builtin_strlen(what));
  (void)!write(2, "\n", 1);
  std::abort();
}

}  // namespace fuzz
