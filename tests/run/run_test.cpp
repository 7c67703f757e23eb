// Pure pieces of the run: work names, upper-casing, the server date.
#include <gtest/gtest.h>

#include "run/run.h"

namespace {

TEST(WorkName, CutsAtTheLastDotOfTheWholePath) {
  EXPECT_EQ(run::WorkName("D:\\in\\20P.txt"), "D:\\in\\20P.wrk");
  EXPECT_EQ(run::WorkName("x.y.txt"), "x.y.wrk");
  EXPECT_EQ(run::WorkName("datei"), "datei.wrk");
  EXPECT_EQ(run::WorkName("D:\\in.d\\datei"), "D:\\in.wrk");
  EXPECT_EQ(run::WorkName("../in/20P"), "..wrk");
  EXPECT_EQ(run::WorkName(""), ".wrk");
}

TEST(StrUpper, ChangesOnlyAsciiLowerCaseLetters) {
  std::string s = "upd/d 20p \xe4\xf6\xfc-z{";
  EXPECT_EQ(run::StrUpper(s), "UPD/D 20P \xe4\xf6\xfc-Z{");
  std::string empty;
  EXPECT_EQ(run::StrUpper(empty), "");
}

TEST(ServerDate, IsYearMonthDayOfTheTimestamp) {
  EXPECT_EQ(run::DateOfTimestamp("01.02.2027 13:14:15"), "20270201");
  EXPECT_EQ(run::DateOfTimestamp(""), "");
  EXPECT_EQ(run::DateOfTimestamp("01.02.20"), "");
}

}  // namespace
