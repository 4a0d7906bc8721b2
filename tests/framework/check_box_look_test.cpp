// The classic check box as the backends draw it, at 96 dpi and scaled.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "framework/check_box_look.h"

namespace {

// The picture the fills make: colours on a grid, 0 where nothing was drawn.
struct Canvas {
  int Size;
  std::vector<controls::Rgb> Cells;
  explicit Canvas(int size) : Size(size), Cells(static_cast<std::size_t>(size * size), 0) {}
  controls::Rgb& At(int x, int y) { return Cells[static_cast<std::size_t>(y * Size + x)]; }
  int Count(controls::Rgb colour) const {
    int n = 0;
    for (controls::Rgb c : Cells) n += c == colour ? 1 : 0;
    return n;
  }
};

constexpr controls::Rgb kTick = 0x008000;

Canvas Draw(int dpi, bool checked, int left = 0, int top = 0) {
  Canvas canvas(40);
  framework::ClassicPalette palette;
  palette.Highlight = 0x000001;  // distinct colours, so each part can be told apart
  palette.Field = 0x000002;
  framework::PaintClassicCheckBox(
      left, top, checked, kTick, palette,
      [&canvas](int x, int y, int width, int height, controls::Rgb colour) {
        for (int row = y; row < y + height; ++row) {
          for (int column = x; column < x + width; ++column) canvas.At(column, row) = colour;
        }
      },
      dpi);
  return canvas;
}

// The smallest rectangle around every cell of one colour: left, top, right, bottom (exclusive).
std::vector<int> Bounds(Canvas& canvas, controls::Rgb colour) {
  int left = canvas.Size, top = canvas.Size, right = 0, bottom = 0;
  for (int y = 0; y < canvas.Size; ++y) {
    for (int x = 0; x < canvas.Size; ++x) {
      if (canvas.At(x, y) != colour) continue;
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x + 1);
      bottom = std::max(bottom, y + 1);
    }
  }
  return {left, top, right, bottom};
}

TEST(CheckBoxLook, TheBoxAndTickScaleWithTheDpi) {
  const struct {
    int Dpi;
    int Box;
    std::vector<int> Field, Tick;
    int TickCells;
  } cases[] = {
      // 96 dpi: 13 x 13 box, 9 x 9 field at (2, 2), the 7 x 7 tick at (3, 3) with 21 cells.
      {96, 13, {2, 2, 11, 11}, {3, 3, 10, 10}, 21},
      // 144 dpi: every value times 1.5 (halves up): box 20, field 14 at 3, tick cells 2 x 2.
      {144, 20, {3, 3, 17, 17}, {5, 5, 16, 16}, 0},
      // 192 dpi: every value doubled: each tick cell 2 x 2.
      {192, 26, {4, 4, 22, 22}, {6, 6, 20, 20}, 21 * 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Dpi);
    EXPECT_EQ(CheckBoxSize(c.Dpi), c.Box);
    Canvas ticked = Draw(c.Dpi, true);
    EXPECT_EQ(Bounds(ticked, 0xA0A0A0)[0], 0);  // the shadow starts at the box's corner
    Canvas drawn = Draw(c.Dpi, false);
    int left = drawn.Size, right = 0;
    for (int x = 0; x < drawn.Size; ++x) {
      if (drawn.At(x, 0) != 0) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
      }
    }
    EXPECT_EQ((std::vector<int>{left, right}), (std::vector<int>{0, c.Box})) << "the box's width";
    EXPECT_EQ(Bounds(drawn, 0x000002), c.Field);
    EXPECT_EQ(drawn.Count(kTick), 0);
    EXPECT_EQ(Bounds(ticked, kTick), c.Tick);
    if (c.TickCells > 0) {
      EXPECT_EQ(ticked.Count(kTick), c.TickCells);
    }
  }
  // The box is drawn where it is asked, at any dpi.
  Canvas moved = Draw(144, true, 5, 7);
  EXPECT_EQ(Bounds(moved, kTick), (std::vector<int>{10, 12, 21, 23}));
}

}  // namespace
