// The run log: line format, console mode, lost messages, long messages and
// the rotation threshold.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/log.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kranzel_log_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    klog::DebugFlag = 0;
    klog::LogPath = dir_ + "/kranzel.log";
    klog::OldLogPath = dir_ + "/kranzel.old";
  }
  void TearDown() override {
    klog::DebugFlag = 0;
    std::filesystem::remove_all(dir_);
  }

  static std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  // The bytes WriteLog appends for `message`.
  static std::size_t LineSize(const std::string& message) { return 19 + 1 + message.size() + 1; }

  std::string dir_;
};

// "YYYY-MM-DD hh:mm:ss " at the start of a line.
bool HasTimestamp(const std::string& line) {
  const std::string form = "dddd-dd-dd dd:dd:dd ";
  if (line.size() < form.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (form[i] == 'd' ? !digit : line[i] != form[i]) return false;
  }
  return true;
}

TEST_F(LogTest, LineIsTimestampBlankMessage) {
  klog::WriteLog("Die Schnittstellendatei vom Dateityp '20P' wurde importiert!");
  klog::WriteLog("");
  klog::LogF("%ld von %ld Datensaetze in %s eingefuegt", 3L, 4L, "MGSST20P");
  std::string log = Read(klog::LogPath);
  std::istringstream lines(log);
  std::string line;
  std::getline(lines, line);
  EXPECT_TRUE(HasTimestamp(line)) << line;
  EXPECT_EQ(line.substr(20), "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!");
  std::getline(lines, line);
  EXPECT_EQ(line.size(), 20u);
  EXPECT_TRUE(HasTimestamp(line)) << line;
  std::getline(lines, line);
  EXPECT_EQ(line.substr(20), "3 von 4 Datensaetze in MGSST20P eingefuegt");
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(log.find('\r'), std::string::npos);
}

TEST_F(LogTest, AppendsToExistingLog) {
  std::ofstream(klog::LogPath) << "old line\n";
  klog::WriteLog("new");
  std::string log = Read(klog::LogPath);
  EXPECT_EQ(log.substr(0, 9), "old line\n");
  EXPECT_EQ(log.size(), 9 + LineSize("new"));
}

TEST_F(LogTest, DebugFlagPrintsToStdoutAndLeavesNoFile) {
  klog::DebugFlag = 1;
  testing::internal::CaptureStdout();
  klog::WriteLog("Fehler in SQL_MGSST20P_SetDelete(): 207");
  klog::WriteLog("");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Fehler in SQL_MGSST20P_SetDelete(): 207\n\n");
  EXPECT_FALSE(Exists(klog::LogPath));

  std::ofstream(klog::LogPath) << "kept\n";
  testing::internal::CaptureStdout();
  klog::WriteLog("x");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Read(klog::LogPath), "kept\n");
}

TEST_F(LogTest, MissingDirectoryDropsMessageSilently) {
  klog::LogPath = dir_ + "/missing/kranzel.log";
  klog::OldLogPath = dir_ + "/missing/kranzel.old";
  testing::internal::CaptureStdout();
  klog::WriteLog("lost");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(Exists(dir_ + "/missing"));
}

TEST_F(LogTest, LongMessageWrittenWhole) {
  std::string message(2000, 'm');
  message += "end";
  klog::WriteLog(message);
  std::string log = Read(klog::LogPath);
  ASSERT_EQ(log.size(), LineSize(message));
  EXPECT_EQ(log.substr(20, message.size()), message);
}

// Fills the log to `size` bytes.
void FillLog(const std::string& path, std::size_t size) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  std::string block(1 << 16, 'f');
  for (std::size_t i = 0; i + 1 < block.size(); i += 64) block[i] = '\n';
  while (size > 0) {
    std::size_t n = std::min(size, block.size());
    f.write(block.data(), static_cast<std::streamsize>(n));
    size -= n;
  }
}

TEST_F(LogTest, LogOfExactlyTenMegabytesNotRotated) {
  const std::string message = "Ende";
  FillLog(klog::LogPath, klog::kLogRotateSize - LineSize(message));
  klog::WriteLog(message);
  EXPECT_EQ(std::filesystem::file_size(klog::LogPath),
            static_cast<std::uintmax_t>(klog::kLogRotateSize));
  EXPECT_FALSE(Exists(klog::OldLogPath));
}

TEST_F(LogTest, OneByteMoreRotatesWithTheLineJustWritten) {
  const std::string message = "Ende!";
  FillLog(klog::LogPath, klog::kLogRotateSize - LineSize(message) + 1);
  std::ofstream(klog::OldLogPath) << "older generation\n";
  std::string before = Read(klog::LogPath);
  klog::WriteLog(message);
  ASSERT_TRUE(Exists(klog::OldLogPath));
  std::string rotated = Read(klog::OldLogPath);
  ASSERT_EQ(rotated.size(), static_cast<std::size_t>(klog::kLogRotateSize) + 1);
  EXPECT_EQ(rotated.compare(0, before.size(), before), 0);
  EXPECT_EQ(rotated.substr(rotated.size() - message.size() - 1), message + "\n");
  EXPECT_EQ(rotated.find("older generation"), std::string::npos);
  ASSERT_TRUE(Exists(klog::LogPath));
  EXPECT_EQ(std::filesystem::file_size(klog::LogPath), 0u);

  // The next message goes into the new log.
  klog::WriteLog("weiter");
  EXPECT_EQ(std::filesystem::file_size(klog::LogPath), LineSize("weiter"));
  EXPECT_EQ(std::filesystem::file_size(klog::OldLogPath),
            static_cast<std::uintmax_t>(klog::kLogRotateSize) + 1);
}

}  // namespace
