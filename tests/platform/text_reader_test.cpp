// The text-mode reader shared by the configuration file and the interface
// files: CR LF, Ctrl-Z, read limits and NUL bytes as the original platform
// reads them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text_reader.h"

namespace {

class TextReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kranzel_reader_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/file.txt";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // All lines of `content` read with `limit`.
  std::vector<std::string> ReadAll(const std::string& content, std::size_t limit = 500) {
    {
      std::ofstream f(path_, std::ios::binary | std::ios::trunc);
      f << content;
    }
    platform::TextReader reader;
    EXPECT_TRUE(reader.Open(path_));
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line, limit)) lines.push_back(line);
    return lines;
  }

  using Lines = std::vector<std::string>;
  std::string dir_;
  std::string path_;
};

TEST_F(TextReaderTest, CrBeforeLfDropped) {
  EXPECT_EQ(ReadAll("ab\r\ncd\r\n"), (Lines{"ab\n", "cd\n"}));
  EXPECT_EQ(ReadAll("ab\ncd"), (Lines{"ab\n", "cd"}));
}

TEST_F(TextReaderTest, LoneCrKept) {
  EXPECT_EQ(ReadAll("a\rb\r\r\nc\r"), (Lines{"a\rb\r\n", "c\r"}));
}

TEST_F(TextReaderTest, CrLfAcrossBufferBoundary) {
  // The CR is the last byte of one read-ahead block, the LF the first of the
  // next.
  std::string first(65535, 'x');
  first[0] = 'a';
  EXPECT_EQ(ReadAll(first + "\r\nz\n", 70000), (Lines{first + "\n", "z\n"}));
  std::string loneCr = first + "\rz\n";
  EXPECT_EQ(ReadAll(loneCr, 70000), (Lines{first + "\rz\n"}));
}

TEST_F(TextReaderTest, CtrlZEndsInput) {
  EXPECT_EQ(ReadAll("ab\x1A"
                    "cd\nef\n"),
            (Lines{"ab"}));
  EXPECT_EQ(ReadAll("ab\n\x1A"
                    "cd\n"),
            (Lines{"ab\n"}));
  EXPECT_EQ(ReadAll("\x1A"
                    "ab\n"),
            (Lines{}));
  EXPECT_EQ(ReadAll("ab\r\x1A"), (Lines{"ab\r"}));
}

TEST_F(TextReaderTest, LimitCutsLikeFgets) {
  EXPECT_EQ(ReadAll("abcdefg\n", 3), (Lines{"abc", "def", "g\n"}));
  EXPECT_EQ(ReadAll("abc\n", 3), (Lines{"abc", "\n"}));
  // The dropped CR does not count against the limit.
  EXPECT_EQ(ReadAll("ab\r\ncd\r\n", 3), (Lines{"ab\n", "cd\n"}));
  EXPECT_EQ(ReadAll("ab\r\n", 2), (Lines{"ab", "\n"}));
}

TEST_F(TextReaderTest, LineEndsAtNulByte) {
  EXPECT_EQ(ReadAll(std::string("ab\0cd\nef\n", 9)), (Lines{"ab", "ef\n"}));
  EXPECT_EQ(ReadAll(std::string("\0\n", 2)), (Lines{""}));
}

TEST_F(TextReaderTest, TellsHowTheReadEnded) {
  std::ofstream(path_, std::ios::binary) << std::string("abcd\nx\0y\nend\0", 13);
  platform::TextReader reader;
  ASSERT_TRUE(reader.Open(path_));
  std::string line;
  ASSERT_TRUE(reader.ReadLine(line, 3));
  EXPECT_EQ(reader.LastReadCount(), 3u);
  EXPECT_FALSE(reader.LastReadEndedLine());
  ASSERT_TRUE(reader.ReadLine(line, 3));
  EXPECT_EQ(line, "d\n");
  EXPECT_TRUE(reader.LastReadEndedLine());
  ASSERT_TRUE(reader.ReadLine(line, 10));
  EXPECT_EQ(line, "x");
  EXPECT_EQ(reader.LastReadCount(), 4u);
  EXPECT_TRUE(reader.LastReadEndedLine());
  ASSERT_TRUE(reader.ReadLine(line, 10));
  EXPECT_EQ(line, "end");
  EXPECT_FALSE(reader.LastReadEndedLine());
  EXPECT_FALSE(reader.ReadLine(line, 10));
  EXPECT_EQ(line, "");
}

TEST_F(TextReaderTest, RewindAfterCtrlZReadsFromStart) {
  std::ofstream(path_, std::ios::binary) << "one\r\n\x1Atwo\n";
  platform::TextReader reader;
  ASSERT_TRUE(reader.Open(path_));
  std::string line;
  ASSERT_TRUE(reader.ReadLine(line, 100));
  EXPECT_FALSE(reader.ReadLine(line, 100));
  reader.Rewind();
  ASSERT_TRUE(reader.ReadLine(line, 100));
  EXPECT_EQ(line, "one\n");
  EXPECT_FALSE(reader.ReadLine(line, 100));
}

TEST_F(TextReaderTest, MissingFileFailsToOpen) {
  platform::TextReader reader;
  EXPECT_FALSE(reader.Open(dir_ + "/missing"));
  EXPECT_FALSE(reader.IsOpen());
  std::string line = "old";
  EXPECT_FALSE(reader.ReadLine(line, 10));
}

}  // namespace
