// The look of the classic check box, shared by the backends: a 13 x 13 box
// with a two-pixel sunken edge, a white field and a 7 x 7 tick.
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
// top left at (left, top), and of the tick when checked.
inline void PaintClassicCheckBox(int left, int top, bool checked, controls::Rgb tick, const ClassicPalette& palette,
                                 const std::function<void(int, int, int, int, controls::Rgb)>& fill) {
  const int n = kCheckBoxSize;
  fill(left, top, n, n, palette.Highlight);
  fill(left, top, n - 1, 1, palette.Shadow);
  fill(left, top, 1, n - 1, palette.Shadow);
  fill(left + 1, top + n - 2, n - 2, 1, palette.Light);
  fill(left + n - 2, top + 1, 1, n - 2, palette.Light);
  fill(left + 1, top + 1, n - 3, 1, palette.DarkShadow);
  fill(left + 1, top + 1, 1, n - 3, palette.DarkShadow);
  fill(left + 2, top + 2, n - 4, n - 4, palette.Field);
  if (!checked) return;
  for (int row = 0; row < 7; ++row) {
    for (int column = 0; column < 7; ++column) {
      if ((kCheckGlyph[row] >> (6 - column)) & 1) fill(left + 3 + column, top + 3 + row, 1, 1, tick);
    }
  }
}

}  // namespace framework
