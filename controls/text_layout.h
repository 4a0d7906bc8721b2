// Layout of styled runs into lines within a width, and link hit-testing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "controls/markup.h"

namespace controls {

// A variant of the control's font.
struct FontFace {
  bool Bold = false;
  bool Italic = false;

  friend bool operator==(const FontFace&, const FontFace&) = default;
};

FontFace FaceOf(const RunStyle& style);

struct FontMetrics {
  int Ascent = 0;   // pixels above the baseline
  int Descent = 0;  // pixels below it
};

// Measures text in one control's font (family and size fixed by whoever made
// the measurer; the face picks bold and italic). Implemented by the platform.
// Used only during LayoutText, on the thread that calls it.
class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // The advance width of the text in pixels, as it is drawn in one piece.
  virtual int TextWidth(std::u16string_view text, FontFace face) = 0;
  virtual FontMetrics Metrics(FontFace face) = 0;
};

// A piece of one line drawn in one style; X is its left edge from the line's start.
struct PlacedRun {
  std::u16string Text;
  RunStyle Style;
  int X = 0;
  int Width = 0;
};

struct LayoutLine {
  int Top = 0;       // from the top of the layout
  int Ascent = 0;    // baseline's distance from Top
  int Height = 0;
  int Width = 0;     // without the spaces at a break
  std::vector<PlacedRun> Runs;  // left to right; neighbours differ in style
};

struct TextLayout {
  std::vector<LayoutLine> Lines;
  int Width = 0;   // of the widest line: the size of the text
  int Height = 0;  // of all lines; one plain line's height when there is no text
};

struct LayoutOptions {
  bool WordWrap = true;  // break lines at spaces to stay within MaxWidth
  int MaxWidth = 0;      // used only with WordWrap
};

// Lays the runs out line by line. With WordWrap a line breaks at the last space
// (U+0020) before the text would pass MaxWidth; the spaces at a break are
// dropped. A word wider than MaxWidth stands alone on its line and overflows.
// A word may change style in its middle and still never breaks there.
TextLayout LayoutText(const MarkupText& text, TextMeasurer& measurer, const LayoutOptions& options);

// The link under the point (x, y), in pixels from the layout's top left: the
// index into MarkupText::LinkTargets, or -1 when the point is on no link.
int LinkAt(const TextLayout& layout, int x, int y);

}  // namespace controls
