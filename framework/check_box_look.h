// The look of the classic check box, shared by the backends: at 96 dpi a
// 13 x 13 box with a two-pixel sunken edge, a white field and a 7 x 7 tick;
// at other densities every rectangle of it scaled.
#pragma once

#include <functional>

#include "controls/markup.h"
#include "framework/controls.h"

namespace framework {

// The edge colours of a classic three-dimensional frame.
struct ClassicPalette {
  controls::Rgb Shadow = 0xA0A0A0;      // outer top and left
  controls::Rgb DarkShadow = 0x696969;  // inner top and left
  controls::Rgb Highlight = 0xFFFFFF;   // outer bottom and right
  controls::Rgb Light = 0xE3E3E3;       // inner bottom and right
  controls::Rgb Field = 0xFFFFFF;       // the box's inside
};

// Calls fill(x, y, width, height, colour) for every rectangle of the box, its
// top left at (left, top), and of the tick when checked. Each rectangle is
// stated at 96 dpi; at dpi its left, top, width and height are each scaled
// on its own.
inline void PaintClassicCheckBox(int left, int top, bool checked, controls::Rgb tick, const ClassicPalette& palette,
                                 const std::function<void(int, int, int, int, controls::Rgb)>& fill,
                                 int dpi = kDesignDpi) {
  const auto box = [&](int x, int y, int width, int height, controls::Rgb colour) {
    fill(left + ScaleFromDesign(x, dpi), top + ScaleFromDesign(y, dpi), ScaleFromDesign(width, dpi),
         ScaleFromDesign(height, dpi), colour);
  };
  const int n = kCheckBoxSize;
  box(0, 0, n, n, palette.Highlight);
  box(0, 0, n - 1, 1, palette.Shadow);
  box(0, 0, 1, n - 1, palette.Shadow);
  box(1, n - 2, n - 2, 1, palette.Light);
  box(n - 2, 1, 1, n - 2, palette.Light);
  box(1, 1, n - 3, 1, palette.DarkShadow);
  box(1, 1, 1, n - 3, palette.DarkShadow);
  box(2, 2, n - 4, n - 4, palette.Field);
  if (!checked) return;
  for (int row = 0; row < 7; ++row) {
    for (int column = 0; column < 7; ++column) {
      if ((kCheckGlyph[row] >> (6 - column)) & 1) box(3 + column, 3 + row, 1, 1, tick);
    }
  }
}

}  // namespace framework
