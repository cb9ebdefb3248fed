// Laying out windows from dialog-template rectangles. A dialog unit is a
// quarter of the dialog font's average character width across and an
// eighth of its height down, computed the way Windows does, so the forms
// keep the proportions they were designed with whatever font stands in.
#pragma once

#include <QFont>
#include <QRect>

namespace velkaro::ui {

class DialogUnits {
 public:
  // The average width of the 52 Latin letters (rounded as Windows rounds
  // it) and the font's line height.
  explicit DialogUnits(const QFont& font);
  DialogUnits(int averageCharWidth, int charHeight)
      : averageCharWidth_(averageCharWidth), charHeight_(charHeight) {}

  int X(int units) const { return MulDiv(units, averageCharWidth_, 4); }
  int Y(int units) const { return MulDiv(units, charHeight_, 8); }
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }
  int averageCharWidth() const { return averageCharWidth_; }
  int charHeight() const { return charHeight_; }

 private:
  // a × b / c rounded half away from zero, as the Windows conversion does.
  static int MulDiv(int a, int b, int c);
  int averageCharWidth_;
  int charHeight_;
};

}  // namespace velkaro::ui
