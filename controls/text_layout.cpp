// Word wrapping of styled runs and hit-testing of the placed text.
#include "controls/text_layout.h"

#include <algorithm>

namespace controls {
namespace {

// A stretch of one style inside a word or a gap between words.
struct Fragment {
  std::u16string_view Text;
  RunStyle Style;
  int Width = 0;
};

// A word (no spaces) or a gap (spaces only), possibly in several styles.
struct Piece {
  bool Gap = false;
  std::vector<Fragment> Fragments;
  int Width = 0;
};

std::vector<Piece> SplitIntoPieces(const MarkupText& text, TextMeasurer& measurer) {
  std::vector<Piece> pieces;
  for (const TextRun& run : text.Runs) {
    const std::u16string_view runText = run.Text;
    std::size_t start = 0;
    while (start < runText.size()) {
      const bool gap = runText[start] == u' ';
      std::size_t end = start;
      while (end < runText.size() && (runText[end] == u' ') == gap) ++end;
      const std::u16string_view part = runText.substr(start, end - start);
      if (pieces.empty() || pieces.back().Gap != gap) pieces.push_back(Piece{gap, {}, 0});
      const int width = measurer.TextWidth(part, FaceOf(run.Style));
      pieces.back().Fragments.push_back(Fragment{part, run.Style, width});
      pieces.back().Width += width;
      start = end;
    }
  }
  return pieces;
}

class LineBuilder {
 public:
  explicit LineBuilder(TextMeasurer& measurer) : mMeasurer(measurer) {}

  bool Empty() const { return mLine.Runs.empty(); }
  int Width() const { return mLine.Width; }

  void Place(const Piece& piece) {
    for (const Fragment& f : piece.Fragments) {
      if (!mLine.Runs.empty() && mLine.Runs.back().Style == f.Style) {
        mLine.Runs.back().Text += f.Text;
        mLine.Runs.back().Width += f.Width;
      } else {
        mLine.Runs.push_back(PlacedRun{std::u16string(f.Text), f.Style, mLine.Width, f.Width});
      }
      mLine.Width += f.Width;
    }
  }

  void Finish(TextLayout& layout) {
    int ascent = 0;
    int descent = 0;
    for (const PlacedRun& run : mLine.Runs) {
      const FontMetrics m = mMeasurer.Metrics(FaceOf(run.Style));
      ascent = std::max(ascent, m.Ascent);
      descent = std::max(descent, m.Descent);
    }
    mLine.Top = layout.Height;
    mLine.Ascent = ascent;
    mLine.Height = ascent + descent;
    layout.Width = std::max(layout.Width, mLine.Width);
    layout.Height += mLine.Height;
    layout.Lines.push_back(std::move(mLine));
    mLine = LayoutLine{};
  }

 private:
  TextMeasurer& mMeasurer;
  LayoutLine mLine;
};

}  // namespace

FontFace FaceOf(const RunStyle& style) { return FontFace{style.Bold, style.Italic}; }

TextLayout LayoutText(const MarkupText& text, TextMeasurer& measurer, const LayoutOptions& options) {
  TextLayout layout;
  const std::vector<Piece> pieces = SplitIntoPieces(text, measurer);
  if (pieces.empty()) {
    const FontMetrics m = measurer.Metrics(FontFace{});
    layout.Height = m.Ascent + m.Descent;
    return layout;
  }

  LineBuilder line(measurer);
  const Piece* pendingGap = nullptr;
  for (const Piece& piece : pieces) {
    if (piece.Gap) {
      pendingGap = &piece;
      continue;
    }
    const int gapWidth = pendingGap != nullptr ? pendingGap->Width : 0;
    if (options.WordWrap && !line.Empty() && line.Width() + gapWidth + piece.Width > options.MaxWidth) {
      line.Finish(layout);  // the gap at the break is dropped
    } else if (pendingGap != nullptr) {
      line.Place(*pendingGap);
    }
    line.Place(piece);
    pendingGap = nullptr;
  }
  // Spaces at the very end take no room; a text of spaces only keeps them.
  if (line.Empty() && pendingGap != nullptr) line.Place(*pendingGap);
  line.Finish(layout);
  return layout;
}

int LinkAt(const TextLayout& layout, int x, int y) {
  for (const LayoutLine& line : layout.Lines) {
    if (y < line.Top || y >= line.Top + line.Height) continue;
    for (const PlacedRun& run : line.Runs) {
      if (x >= run.X && x < run.X + run.Width) return run.Style.Link;
    }
    return -1;
  }
  return -1;
}

}  // namespace controls
