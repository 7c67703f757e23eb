// The date-and-time text of the MND and IDN files: YYYYMMDDHHMMSS becomes
// "YYYYMMDD HH:MM:SS" for the database's style 120.
#include <gtest/gtest.h>

#include "importers/date_text.h"

namespace {

TEST(DateTimeText, FullFieldGetsBlankAndColons) {
  EXPECT_EQ(importers::DateTimeText("20240315083005"), "20240315 08:30:05");
}

TEST(DateTimeText, EmptyFieldStaysEmptySoNullifWritesNull) {
  EXPECT_EQ(importers::DateTimeText(""), "");
}

// A field cut short keeps its pieces at their fixed places, never reading
// past its end; the database decides whether the text converts.
TEST(DateTimeText, ShortFieldKeepsItsPiecesWithoutOverrun) {
  EXPECT_EQ(importers::DateTimeText("20240315"), "20240315 ::");
  EXPECT_EQ(importers::DateTimeText("202403150"), "20240315 0::");
  EXPECT_EQ(importers::DateTimeText("2024"), "2024 ::");
  EXPECT_EQ(importers::DateTimeText("2024031508300"), "20240315 08:30:0");
}

}  // namespace
