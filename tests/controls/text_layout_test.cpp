// Layout of runs into lines: wrapping, sizes, placement and link hit-testing,
// measured with fixed character widths.
#include "controls/text_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/controls/fakes.h"

using controls::LayoutOptions;
using controls::LayoutText;
using controls::ParseMarkup;
using controls::TextLayout;

namespace {

constexpr int kChar = FakeMeasurer::kCharWidth;
constexpr int kSpace = FakeMeasurer::kSpaceWidth;

TextLayout Lay(std::u16string_view markup, LayoutOptions options) {
  FakeMeasurer measurer;
  return LayoutText(ParseMarkup(markup), measurer, options);
}

struct WrapCase {
  const char* Name;
  std::u16string Markup;
  int MaxWidth;
  std::vector<std::u16string> Lines;
};

class Wrap : public testing::TestWithParam<WrapCase> {};

TEST_P(Wrap, BreaksAtTheLastFittingSpace) {
  const WrapCase& c = GetParam();
  const TextLayout layout = Lay(c.Markup, LayoutOptions{true, c.MaxWidth});
  EXPECT_EQ(LineTexts(layout), c.Lines);
}

// "aaa" is 15 pixels, "aaa bbb" 33, "aaa bbb ccc" 51.
const WrapCase kWrapCases[] = {
    {"AllFits", u"aaa bbb ccc", 51, {u"aaa bbb ccc"}},
    {"LastWordOnePixelTooWide", u"aaa bbb ccc", 50, {u"aaa bbb", u"ccc"}},
    {"ExactFit", u"aaa bbb ccc", 33, {u"aaa bbb", u"ccc"}},
    {"OneWordPerLine", u"aaa bbb ccc", 32, {u"aaa", u"bbb", u"ccc"}},
    {"WordWiderThanWidthStandsAlone", u"aaa bbbbbbbbbb ccc", 20, {u"aaa", u"bbbbbbbbbb", u"ccc"}},
    {"ZeroWidth", u"aaa bbb", 0, {u"aaa", u"bbb"}},
    {"SpacesAtBreakDropped", u"aaa    bbb", 20, {u"aaa", u"bbb"}},
    {"SpacesInsideLineKept", u"aaa  bbb", 100, {u"aaa  bbb"}},
    {"LeadingSpacesKept", u"  aaa", 100, {u"  aaa"}},
    {"TrailingSpacesDropped", u"aaa   ", 100, {u"aaa"}},
    {"OnlySpaces", u"   ", 100, {u"   "}},
    {"NoBreakInsideStyledWord", u"aaa <a href=\"http://x\">Policy</a>.", 40, {u"aaa", u"Policy."}},
    {"BreakBetweenStyles", u"<b>aaa</b> bbb", 30, {u"aaa", u"bbb"}},
    {"StrayClosingsChangeNothing", u"</b></i>aaa bbb ccc", 33, {u"aaa bbb", u"ccc"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Wrap, testing::ValuesIn(kWrapCases),
                         [](const testing::TestParamInfo<WrapCase>& param) { return std::string(param.param.Name); });

TEST(Layout, WithoutWordWrapEverythingStaysOnOneLine) {
  const TextLayout layout = Lay(u"aaa bbb ccc", LayoutOptions{false, 10});
  ASSERT_EQ(layout.Lines.size(), 1u);
  EXPECT_EQ(layout.Width, 9 * kChar + 2 * kSpace);
  EXPECT_EQ(layout.Height, 13);
}

TEST(Layout, SizeIsTheWidestLineAndAllLines) {
  // "aaaaa bb" with a break: 25 and 10 pixels wide, plain lines 13 high.
  const TextLayout layout = Lay(u"aaaaa bb", LayoutOptions{true, 26});
  ASSERT_EQ(layout.Lines.size(), 2u);
  EXPECT_EQ(layout.Lines[0].Width, 5 * kChar);
  EXPECT_EQ(layout.Lines[1].Width, 2 * kChar);
  EXPECT_EQ(layout.Width, 5 * kChar);
  EXPECT_EQ(layout.Lines[0].Top, 0);
  EXPECT_EQ(layout.Lines[1].Top, 13);
  EXPECT_EQ(layout.Height, 26);
}

TEST(Layout, LineTakesTheTallestFaceOnIt) {
  const TextLayout layout = Lay(u"aa <b>bb</b> cc", LayoutOptions{true, 30});
  ASSERT_EQ(layout.Lines.size(), 2u);
  EXPECT_EQ(layout.Lines[0].Ascent, 12);  // bold: 12 + 3
  EXPECT_EQ(layout.Lines[0].Height, 15);
  EXPECT_EQ(layout.Lines[1].Ascent, 10);  // plain: 10 + 3
  EXPECT_EQ(layout.Lines[1].Top, 15);
  EXPECT_EQ(layout.Height, 28);
}

TEST(Layout, EmptyTextHasNoLinesAndOnePlainLineOfHeight) {
  const TextLayout layout = Lay(u"</b>", LayoutOptions{true, 100});
  EXPECT_TRUE(layout.Lines.empty());
  EXPECT_EQ(layout.Width, 0);
  EXPECT_EQ(layout.Height, 13);
}

TEST(Layout, RunsArePlacedSideBySideInTheirFaces) {
  const TextLayout layout = Lay(u"ab <b>cd</b>e <i>f</i>", LayoutOptions{false, 0});
  ASSERT_EQ(layout.Lines.size(), 1u);
  const auto& runs = layout.Lines[0].Runs;
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].Text, u"ab ");
  EXPECT_EQ(runs[0].X, 0);
  EXPECT_EQ(runs[0].Width, 2 * kChar + kSpace);
  EXPECT_EQ(runs[1].Text, u"cd");
  EXPECT_TRUE(runs[1].Style.Bold);
  EXPECT_EQ(runs[1].X, runs[0].Width);
  EXPECT_EQ(runs[1].Width, 2 * FakeMeasurer::kBoldCharWidth);
  EXPECT_EQ(runs[2].Text, u"e ");
  EXPECT_EQ(runs[2].X, runs[1].X + runs[1].Width);
  EXPECT_EQ(runs[3].Text, u"f");
  EXPECT_TRUE(runs[3].Style.Italic);
  EXPECT_EQ(layout.Width, runs[3].X + runs[3].Width);
}

TEST(Layout, SecondLineStartsAtTheLeftEdge) {
  const TextLayout layout = Lay(u"aaa <b>bbb</b>", LayoutOptions{true, 20});
  ASSERT_EQ(layout.Lines.size(), 2u);
  ASSERT_EQ(layout.Lines[1].Runs.size(), 1u);
  EXPECT_EQ(layout.Lines[1].Runs[0].X, 0);
  EXPECT_EQ(layout.Lines[1].Runs[0].Text, u"bbb");
}

// "go <a>to here</a> or <a>there</a>" laid out in two lines:
//   line 0 (y 0..12):  "go " 0..12, "to here" 13..45 (its inner space included), " or" 46..58
//   line 1 (y 13..25): "there" 0..24
TEST(Layout, LinkAtFindsTheLinkUnderThePoint) {
  const TextLayout layout =
      Lay(u"go <a href=\"http://1\">to here</a> or <a href=\"http://2\">there</a>", LayoutOptions{true, 60});
  ASSERT_EQ(LineTexts(layout), (std::vector<std::u16string>{u"go to here or", u"there"}));
  struct Probe {
    int X, Y, Link;
  };
  const int linkStart = 2 * kChar + kSpace;           // 13
  const int linkEnd = linkStart + 6 * kChar + kSpace;  // 46, exclusive
  const Probe probes[] = {
      {0, 0, -1},                   // "g"
      {linkStart - 1, 5, -1},       // the space before the link
      {linkStart, 0, 0},            // first pixel of "to"
      {linkStart + 11, 12, 0},      // the space inside the link, bottom row
      {linkEnd - 1, 6, 0},          // last pixel of "here"
      {linkEnd, 6, -1},             // the space after it
      {0, 13, 1},                   // "there" on the second line
      {5 * kChar - 1, 25, 1},       // its last pixel
      {5 * kChar, 20, -1},          // beyond the end of the second line
      {0, 26, -1},                  // below the text
      {0, -1, -1},                  // above it
      {-1, 0, -1},                  // left of it
  };
  for (const Probe& p : probes) {
    EXPECT_EQ(controls::LinkAt(layout, p.X, p.Y), p.Link) << "at " << p.X << "," << p.Y;
  }
}

}  // namespace
