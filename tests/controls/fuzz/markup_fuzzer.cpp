// libFuzzer target: markup from untrusted bytes is parsed, laid out, painted
// and hit-tested, and the results are checked for consistency.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "controls/markup.h"
#include "controls/text_layout.h"
#include "controls/text_painter.h"
#include "platform/text.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Widths that depend on the face and the characters, so that wrapping varies.
class VaryingMeasurer final : public controls::TextMeasurer {
 public:
  int TextWidth(std::u16string_view text, controls::FontFace face) override {
    int width = 0;
    for (char16_t c : text) width += 2 + (c % 7) + (face.Bold ? 1 : 0);
    return width;
  }
  controls::FontMetrics Metrics(controls::FontFace face) override {
    return face.Bold ? controls::FontMetrics{12, 3} : controls::FontMetrics{11, 2};
  }
};

class CheckingPainter final : public controls::TextPainter {
 public:
  void DrawText(int, int, std::u16string_view text, controls::FontFace, controls::Rgb colour, bool) override {
    Require(!text.empty());
    Require(colour <= 0xFFFFFF);
  }
};

std::u16string WithoutSpaces(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c != u' ') out.push_back(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the width; the rest is the markup as UTF-8, with
  // invalid bytes kept as lone surrogates.
  const int maxWidth = data[0] * 4;
  const std::u16string markup =
      platform::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  const controls::MarkupText text = controls::ParseMarkup(markup);
  std::size_t textLength = 0;
  for (std::size_t k = 0; k < text.Runs.size(); ++k) {
    const controls::TextRun& run = text.Runs[k];
    Require(!run.Text.empty());
    Require(k == 0 || !(text.Runs[k - 1].Style == run.Style));
    Require(run.Style.Link >= -1 && run.Style.Link < static_cast<int>(text.LinkTargets.size()));
    Require(run.Style.HasColour || run.Style.Colour == 0);
    for (char16_t c : run.Text) Require(c >= 0x20 && c != 0x7F);
    textLength += run.Text.size();
  }
  Require(textLength <= markup.size() && textLength <= controls::kMaxMarkupLength);
  for (const std::u16string& target : text.LinkTargets) {
    Require(!target.empty() && target.size() <= controls::kMaxAttributeLength);
  }

  VaryingMeasurer measurer;
  const controls::TextLayout layout = controls::LayoutText(text, measurer, controls::LayoutOptions{true, maxWidth});
  std::u16string laidOut;
  int top = 0;
  for (const controls::LayoutLine& line : layout.Lines) {
    Require(line.Top == top);
    top += line.Height;
    Require(line.Width <= layout.Width);
    int x = 0;
    for (const controls::PlacedRun& run : line.Runs) {
      Require(run.X == x && run.Width >= 0);
      x += run.Width;
      laidOut += run.Text;
    }
    Require(x == line.Width);
    // Only a line of a single word may pass the width.
    if (line.Width > maxWidth) {
      std::u16string lineText;
      for (const controls::PlacedRun& run : line.Runs) lineText += run.Text;
      Require(lineText.find(u' ', lineText.find_first_not_of(u' ')) == std::u16string::npos);
    }
  }
  Require(layout.Lines.empty() || top == layout.Height);
  Require(WithoutSpaces(laidOut) == WithoutSpaces(text.PlainText()));

  // A grid of at most 18 x 18 probes over the text and a little around it.
  const int stepY = layout.Height / 16 + 1;
  const int stepX = layout.Width / 16 + 1;
  for (int y = -1; y <= layout.Height; y += stepY) {
    for (int x = -1; x <= layout.Width; x += stepX) {
      const int link = controls::LinkAt(layout, x, y);
      Require(link >= -1 && link < static_cast<int>(text.LinkTargets.size()));
    }
  }
  CheckingPainter painter;
  controls::PaintLayout(layout, 0, 0, controls::TextColours{}, painter);
  return 0;
}
