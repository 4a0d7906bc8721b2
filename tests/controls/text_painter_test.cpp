// Painting a layout: where each run goes, its face, colour and underline.
#include "controls/text_painter.h"

#include <gtest/gtest.h>

#include "controls/rich_text.h"
#include "tests/controls/fakes.h"

namespace {

constexpr controls::TextColours kColours{0x101010, 0x0000FF, true};

TEST(Painter, RunsGetTheirColoursFacesAndPlaces) {
  controls::RichText text;
  text.SetMarkup(u"<font color=\"#FF0000\">Red</font> <b>bold</b> <a href=\"http://x\">link</a>");
  FakeMeasurer measurer;
  text.Relayout(measurer, controls::LayoutOptions{true, 60});  // "Red bold" | "link"
  RecordingPainter painter;
  text.Paint(painter, 25, 295, kColours);

  ASSERT_EQ(painter.Calls.size(), 4u);
  const DrawCall& red = painter.Calls[0];
  EXPECT_EQ(red.Text, u"Red");
  EXPECT_EQ(red.Colour, 0xFF0000u);
  EXPECT_EQ(red.X, 25);
  EXPECT_EQ(red.BaselineY, 295 + 12);  // the line holds bold text: ascent 12
  EXPECT_FALSE(red.Underline);

  const DrawCall& gap = painter.Calls[1];
  EXPECT_EQ(gap.Text, u" ");
  EXPECT_EQ(gap.Colour, 0x101010u);
  EXPECT_EQ(gap.X, 25 + 3 * FakeMeasurer::kCharWidth);

  const DrawCall& bold = painter.Calls[2];
  EXPECT_EQ(bold.Text, u"bold");
  EXPECT_TRUE(bold.Face.Bold);
  EXPECT_EQ(bold.Colour, 0x101010u);
  EXPECT_EQ(bold.BaselineY, red.BaselineY);

  const DrawCall& link = painter.Calls[3];
  EXPECT_EQ(link.Text, u"link");
  EXPECT_EQ(link.Colour, 0x0000FFu);
  EXPECT_TRUE(link.Underline);
  EXPECT_EQ(link.X, 25);
  EXPECT_EQ(link.BaselineY, 295 + 15 + 10);  // second line: below the 15-pixel first line
}

TEST(Painter, LinkColourWinsOverMarkupColour) {
  controls::RunStyle style;
  style.HasColour = true;
  style.Colour = 0xFF0000;
  EXPECT_EQ(controls::ColourOf(style, kColours), 0xFF0000u);
  style.Link = 0;
  EXPECT_EQ(controls::ColourOf(style, kColours), 0x0000FFu);
}

TEST(Painter, LinksCanStayWithoutUnderline) {
  controls::RichText text;
  text.SetMarkup(u"<a href=\"http://x\">link</a>");
  FakeMeasurer measurer;
  text.Relayout(measurer, controls::LayoutOptions{false, 0});
  RecordingPainter painter;
  controls::TextColours colours = kColours;
  colours.UnderlineLinks = false;
  text.Paint(painter, 0, 0, colours);
  ASSERT_EQ(painter.Calls.size(), 1u);
  EXPECT_FALSE(painter.Calls[0].Underline);
  EXPECT_EQ(painter.Calls[0].Colour, 0x0000FFu);
}

}  // namespace
