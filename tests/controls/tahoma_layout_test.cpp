// The dialog's texts laid out in Tahoma measured with the real font: the terms
// line takes exactly two lines of its label, every other label one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/offer_texts.h"
#include "controls/rich_text.h"
#include "platform/text.h"
#include "tests/controls/fakes.h"
#include "tests/controls/tahoma_measurer.h"

namespace {

constexpr int kFormFontPixels = 11;
constexpr int kTermsLabelWidth = 397;

std::unique_ptr<controls::TextMeasurer> Tahoma(int pixels) {
  std::string problem;
  auto measurer = MakeTahomaMeasurer(pixels, problem);
  EXPECT_NE(measurer, nullptr) << problem;
  return measurer;
}

TEST(TahomaLayout, FormFontIsThirteenPixelsHigh) {
  auto measurer = Tahoma(kFormFontPixels);
  ASSERT_NE(measurer, nullptr);
  const controls::FontMetrics regular = measurer->Metrics(controls::FontFace{});
  const controls::FontMetrics bold = measurer->Metrics(controls::FontFace{true, false});
  EXPECT_EQ(regular.Ascent + regular.Descent, 13);
  EXPECT_EQ(bold.Ascent + bold.Descent, 13);
  // Real glyph advances: bold is wider, and the text's width is no multiple of one advance.
  const int plain = measurer->TextWidth(u"Terms and Conditions", controls::FontFace{});
  EXPECT_GT(measurer->TextWidth(u"Terms and Conditions", controls::FontFace{true, false}), plain);
  EXPECT_NE(measurer->TextWidth(u"iiii", controls::FontFace{}), measurer->TextWidth(u"WWWW", controls::FontFace{}));
}

TEST(TahomaLayout, TermsLineWrapsIntoExactlyTwoLines) {
  auto measurer = Tahoma(kFormFontPixels);
  ASSERT_NE(measurer, nullptr);
  controls::RichText terms;
  terms.SetMarkup(offer_texts::GoogleMsgLbl6);
  terms.Relayout(*measurer, controls::LayoutOptions{true, kTermsLabelWidth});
  const controls::TextLayout& layout = terms.Layout();

  const std::vector<std::u16string> lines = LineTexts(layout);
  ASSERT_EQ(lines.size(), 2u);
  RecordProperty("first_line", platform::WideToUtf8(lines[0]));
  RecordProperty("first_line_width", layout.Lines[0].Width);
  for (const controls::LayoutLine& line : layout.Lines) EXPECT_LE(line.Width, kTermsLabelWidth);
  EXPECT_LE(layout.Width, kTermsLabelWidth);
  EXPECT_EQ(layout.Height, 26);
  // Nothing lost at the break but its one space.
  EXPECT_EQ(lines[0] + u" " + lines[1], terms.Text().PlainText());
  // The break is as late as it can be: the second line's first word would not fit.
  const std::u16string firstWordBelow = lines[1].substr(0, lines[1].find(u' '));
  std::u16string longer = lines[0] + u" " + firstWordBelow;
  EXPECT_GT(measurer->TextWidth(longer, controls::FontFace{}), kTermsLabelWidth)
      << "break after: " << platform::WideToUtf8(lines[0]);

  // Both links can be hit wherever they were placed, also on both sides of the
  // break when a link is split by it.
  RecordingOpener opener;
  for (const controls::LayoutLine& line : layout.Lines) {
    for (const controls::PlacedRun& run : line.Runs) {
      if (run.Style.Link >= 0) terms.MouseDown(run.X + run.Width / 2, line.Top + line.Height / 2);
    }
  }
  std::vector<std::u16string> opened = opener.Targets;
  opened.erase(std::unique(opened.begin(), opened.end()), opened.end());
  EXPECT_EQ(opened, terms.Text().LinkTargets);
}

struct SingleLineLabel {
  const char* Name;
  std::u16string_view Markup;
  int Pixels;
  int Width;
};

TEST(TahomaLayout, OtherLabelsFitOnOneLineOfTheirWidth) {
  const SingleLineLabel labels[] = {
      {"GoogleMsgLbl0", offer_texts::GoogleMsgLbl0, 15, 450}, {"GoogleMsgLbl7", offer_texts::GoogleMsgLbl7, 12, 357},
      {"GoogleMsgLbl1", offer_texts::GoogleMsgLbl1, 11, 423}, {"GoogleMsgLbl2", offer_texts::GoogleMsgLbl2, 11, 423},
      {"GoogleMsgLbl3", offer_texts::GoogleMsgLbl3, 11, 423}, {"GoogleMsgLbl4", offer_texts::GoogleMsgLbl4, 11, 464},
      {"GoogleMsgLbl5", offer_texts::GoogleMsgLbl5, 11, 446},
  };
  for (const SingleLineLabel& label : labels) {
    auto measurer = Tahoma(label.Pixels);
    ASSERT_NE(measurer, nullptr);
    controls::RichText text;
    text.SetMarkup(label.Markup);
    text.Relayout(*measurer, controls::LayoutOptions{true, label.Width});
    EXPECT_EQ(text.Layout().Lines.size(), 1u) << label.Name;
    EXPECT_GT(text.Layout().Width, 0) << label.Name;
    EXPECT_LE(text.Layout().Width, label.Width) << label.Name;
  }
}

}  // namespace
