// The one conversion from the form's twips to a screen's pixels.
#include "platform/window_layout.h"

#include <gtest/gtest.h>

namespace {

using kalo::platform::layout::Pixels;

TEST(WindowLayout, TwipsBecomePixelsAtTheScreensDpi) {
  const struct {
    int twips;
    int at_96;
    int at_120;
    int at_144;
    int at_192;
  } cases[] = {
      {0, 0, 0, 0, 0},           {15, 1, 1, 2, 2},  // halves round away from zero
      {-15, -1, -1, -2, -2},     {7, 0, 1, 1, 1},
      {160, 11, 13, 16, 21},  // the form's 8-point font
      {1485, 99, 124, 149, 198}, {7470, 498, 623, 747, 996},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.twips);
    EXPECT_EQ(Pixels(row.twips, 96), row.at_96);
    EXPECT_EQ(Pixels(row.twips, 120), row.at_120);
    EXPECT_EQ(Pixels(row.twips, 144), row.at_144);
    EXPECT_EQ(Pixels(row.twips, 192), row.at_192);
  }
}

}  // namespace
