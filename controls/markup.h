// The label controls' markup: a small subset of HTML parsed into styled runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace controls {

// An RGB colour, 0xRRGGBB.
using Rgb = std::uint32_t;

// How one run of text is drawn. Colour and link refer to the whole run.
struct RunStyle {
  bool Bold = false;
  bool Italic = false;
  bool HasColour = false;  // false: the control's own text colour
  Rgb Colour = 0;          // meaningful when HasColour
  int Link = -1;           // index into MarkupText::LinkTargets, -1 when not a link

  friend bool operator==(const RunStyle&, const RunStyle&) = default;
};

struct TextRun {
  std::u16string Text;
  RunStyle Style;

  friend bool operator==(const TextRun&, const TextRun&) = default;
};

// The parsed markup: runs in reading order (adjacent runs never share a style,
// no run is empty) and the targets of the links they refer to.
struct MarkupText {
  std::vector<TextRun> Runs;
  std::vector<std::u16string> LinkTargets;

  // The text as it reads, without markup.
  std::u16string PlainText() const;
};

// Limits that keep hostile markup cheap. Longer input is cut at kMaxMarkupLength;
// an attribute value longer than kMaxAttributeLength counts as missing.
inline constexpr std::size_t kMaxMarkupLength = 64 * 1024;
inline constexpr std::size_t kMaxAttributeLength = 2048;

// Parses the markup. Understood, with tag and attribute names in any case:
//   <b>..</b> bold, <i>..</i> italic, <span>..</span> (no effect),
//   <font color="#RRGGBB">..</font> text colour, <a href="target">..</a> link,
//   and the entities &amp; &lt; &gt; &quot;.
// Tags of one kind nest; a closing tag ends the innermost open tag of its kind,
// whatever lies between, and a closing tag with none open is ignored. Other tags
// are dropped. A "<" that does not begin a tag name, and an unterminated tag at
// the end, are text. Control characters read as spaces. Never fails; time and
// memory are linear in the input.
MarkupText ParseMarkup(std::u16string_view markup);

}  // namespace controls
