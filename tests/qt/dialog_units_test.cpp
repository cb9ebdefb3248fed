// Dialog units to pixels.
#include "ui/dialog_units.h"

#include <gtest/gtest.h>

namespace velkaro::ui {
namespace {

TEST(DialogUnits, ConvertLikeWindows) {
  // The classic 8 × 16 system font: 4 dialog units are 8 pixels across,
  // 8 dialog units are 16 pixels down; halves round away from zero.
  const DialogUnits units(8, 16);
  const struct {
    int units, x, y;
  } cases[] = {{0, 0, 0}, {1, 2, 2}, {4, 8, 8}, {310, 620, 620}, {3, 6, 6}, {-3, -6, -6}};
  for (const auto& c : cases) {
    EXPECT_EQ(units.X(c.units), c.x) << c.units;
    EXPECT_EQ(units.Y(c.units), c.y) << c.units;
  }
  const DialogUnits odd(7, 13);
  EXPECT_EQ(odd.X(2), 4);  // 3.5 rounds up
  EXPECT_EQ(odd.Y(4), 7);  // 6.5 rounds up
  EXPECT_EQ(odd.Rect(4, 8, 50, 14), QRect(7, 13, 88, 23));
}

TEST(DialogUnits, FollowTheFont) {
  QFont font;
  font.setPixelSize(12);
  const DialogUnits units(font);
  EXPECT_GT(units.averageCharWidth(), 0);
  EXPECT_GE(units.charHeight(), 12);
}

}  // namespace
}  // namespace velkaro::ui
