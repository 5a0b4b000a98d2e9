#include "platform/font_sizes.h"

#include <gtest/gtest.h>

namespace zema {
namespace {

TEST(FontSizes, NominalToScreenAndBack) {
  struct Case {
    int ppi, nominal, screen;
  } cases[] = {
      {96, 10, 8},   // 798 / 96, toward zero
      {96, 12, 9},   // 948 / 96
      {96, 8, 6},    //
      {72, 10, 10},  // 786 / 72
      {120, 8, 5},   // 660 / 120
      {0, 10, 8},    // no resolution known: 96
  };
  for (const Case& c : cases) {
    EXPECT_EQ(screen_nominal_to_fontsize(c.nominal, c.ppi), c.screen) << c.ppi << " " << c.nominal;
    EXPECT_EQ(screen_fontsize_to_nominal(c.screen, c.ppi), c.nominal) << c.ppi << " " << c.screen;
  }
}

TEST(FontSizes, ScreenSizeOfNoListedNominalIsScaled) {
  EXPECT_EQ(screen_fontsize_to_nominal(100, 96), (100 * 96 + 37) / 75);  // 128
  EXPECT_EQ(screen_fontsize_to_nominal(7, 96), (7 * 96 + 37) / 75);      // 9: between 8 (6) and 10 (8)
  // The first listed size wins where two give the same screen size.
  EXPECT_EQ(screen_fontsize_to_nominal(1, 600), 8);  // 8 → (300+600)/600 = 1, and 10 → 1 too
}

}  // namespace
}  // namespace zema
