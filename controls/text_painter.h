// Drawing of laid-out text through the platform's painter.
#pragma once

#include <string_view>

#include "controls/markup.h"
#include "controls/text_layout.h"

namespace controls {

struct TextColours {
  Rgb Text = 0x000000;  // the control's own colour, for runs without a colour
  Rgb Link = 0x0000FF;  // every link run, whatever colour its markup gives
  bool UnderlineLinks = true;
};

// Draws text in one control's font. Implemented by the platform over its
// device context; used only during PaintLayout, on the thread that calls it.
class TextPainter {
 public:
  virtual ~TextPainter() = default;
  // Draws the text with its left end at x and its baseline at baselineY,
  // without filling the background.
  virtual void DrawText(int x, int baselineY, std::u16string_view text, FontFace face, Rgb colour, bool underline) = 0;
};

// The colour a run is drawn in.
Rgb ColourOf(const RunStyle& style, const TextColours& colours);

// Draws every placed run of the layout, the layout's top left at (left, top).
void PaintLayout(const TextLayout& layout, int left, int top, const TextColours& colours, TextPainter& painter);

}  // namespace controls
