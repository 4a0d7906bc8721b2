// Drawing of laid-out text: positions and colours of each run.
#include "controls/text_painter.h"

namespace controls {

Rgb ColourOf(const RunStyle& style, const TextColours& colours) {
  if (style.Link >= 0) return colours.Link;
  return style.HasColour ? style.Colour : colours.Text;
}

void PaintLayout(const TextLayout& layout, int left, int top, const TextColours& colours, TextPainter& painter) {
  for (const LayoutLine& line : layout.Lines) {
    const int baseline = top + line.Top + line.Ascent;
    for (const PlacedRun& run : line.Runs) {
      const bool underline = colours.UnderlineLinks && run.Style.Link >= 0;
      painter.DrawText(left + run.X, baseline, run.Text, FaceOf(run.Style), ColourOf(run.Style, colours), underline);
    }
  }
}

}  // namespace controls
