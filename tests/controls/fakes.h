// Fixed-width measuring, a recording painter and opener, and a compact
// description of parsed runs, for the controls' tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "controls/link_activation.h"
#include "controls/markup.h"
#include "controls/text_layout.h"
#include "controls/text_painter.h"
#include "platform/shell.h"
#include "platform/text.h"

// Every character is 5 pixels wide (bold 6), a space 3; bold stands taller.
class FakeMeasurer final : public controls::TextMeasurer {
 public:
  static constexpr int kCharWidth = 5;
  static constexpr int kBoldCharWidth = 6;
  static constexpr int kSpaceWidth = 3;

  int TextWidth(std::u16string_view text, controls::FontFace face) override {
    ++Calls;
    int width = 0;
    for (char16_t c : text) width += c == u' ' ? kSpaceWidth : (face.Bold ? kBoldCharWidth : kCharWidth);
    return width;
  }
  controls::FontMetrics Metrics(controls::FontFace face) override {
    return face.Bold ? controls::FontMetrics{12, 3} : controls::FontMetrics{10, 3};
  }
  int Calls = 0;
};

struct DrawCall {
  int X = 0;
  int BaselineY = 0;
  std::u16string Text;
  controls::FontFace Face;
  controls::Rgb Colour = 0;
  bool Underline = false;
};

class RecordingPainter final : public controls::TextPainter {
 public:
  void DrawText(int x, int baselineY, std::u16string_view text, controls::FontFace face, controls::Rgb colour,
                bool underline) override {
    Calls.push_back(DrawCall{x, baselineY, std::u16string(text), face, colour, underline});
  }
  std::vector<DrawCall> Calls;
};

// Records the targets it is asked to open; put in place for its lifetime.
class RecordingOpener final : public platform::LinkOpener {
 public:
  bool OpenWithDefaultHandler(std::u16string_view target) override {
    Targets.emplace_back(target);
    return Result;
  }
  std::vector<std::u16string> Targets;
  bool Result = true;

 private:
  platform::ScopedLinkOpenerForTesting mInUse{*this};
};

// Runs as text{flags}, separated by "|": flags b, i, #RRGGBB and aN for link N.
inline std::string Describe(const controls::MarkupText& text) {
  std::string out;
  for (const controls::TextRun& run : text.Runs) {
    if (!out.empty()) out += "|";
    out += platform::WideToUtf8(run.Text) + "{";
    std::string flags;
    auto add = [&flags](const std::string& flag) { flags += (flags.empty() ? "" : ",") + flag; };
    if (run.Style.Bold) add("b");
    if (run.Style.Italic) add("i");
    if (run.Style.HasColour) {
      char colour[8];
      std::snprintf(colour, sizeof colour, "#%06X", static_cast<unsigned>(run.Style.Colour));
      add(colour);
    }
    if (run.Style.Link >= 0) add("a" + std::to_string(run.Style.Link));
    out += flags + "}";
  }
  return out;
}

// The text of each line of a layout.
inline std::vector<std::u16string> LineTexts(const controls::TextLayout& layout) {
  std::vector<std::u16string> lines;
  for (const controls::LayoutLine& line : layout.Lines) {
    std::u16string text;
    for (const controls::PlacedRun& run : line.Runs) text += run.Text;
    lines.push_back(text);
  }
  return lines;
}
