// The dialog's stored texts read as intended: colours, bold lines and links.
#include "app/offer_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "controls/markup.h"
#include "controls/text_painter.h"
#include "platform/text.h"
#include "tests/controls/fakes.h"

namespace {

struct StoredText {
  const char* Label;
  std::u16string_view Markup;
  std::string Runs;  // as Describe writes them
};

class OfferTexts : public testing::TestWithParam<StoredText> {};

TEST_P(OfferTexts, ParseIntoTheRunsTheyShow) {
  const StoredText& t = GetParam();
  EXPECT_EQ(Describe(controls::ParseMarkup(t.Markup)), t.Runs);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, OfferTexts,
    testing::Values(
        StoredText{"GoogleMsgLbl0", offer_texts::GoogleMsgLbl0,
                   "Free!{#FF0000}| Google Toolbar for Internet Explorer{}"},
        StoredText{"GoogleMsgLbl7", offer_texts::GoogleMsgLbl7, "Google Toolbar makes web browsing more convenient:{b}"},
        StoredText{"GoogleMsgLbl1", offer_texts::GoogleMsgLbl1, "Search from any website{}"},
        StoredText{"GoogleMsgLbl2", offer_texts::GoogleMsgLbl2, "Translate web pages instantly{}"},
        StoredText{"GoogleMsgLbl3", offer_texts::GoogleMsgLbl3, "Share your favorite sites with friends{}"},
        StoredText{"GoogleMsgLbl4", offer_texts::GoogleMsgLbl4, "Install the free Google Toolbar along with Norvik{b}"},
        StoredText{"GoogleMsgLbl5", offer_texts::GoogleMsgLbl5, "You can remove it easily at any time{}"},
        StoredText{"GoogleMsgLbl6", offer_texts::GoogleMsgLbl6,
                   "By installing this application you agree to the Google Toolbar {}|Terms and Conditions{a0}"
                   "| and the {}|Privacy Policy{a1}|.{}"},
        StoredText{"GoogleDefChk", offer_texts::GoogleDefChk, "Make Google Chrome my default browser{}"}),
    [](const testing::TestParamInfo<StoredText>& param) { return std::string(param.param.Label); });

TEST(OfferTexts, TermsLinksLeadToTheVendorsPages) {
  const controls::MarkupText terms = controls::ParseMarkup(offer_texts::GoogleMsgLbl6);
  ASSERT_EQ(terms.LinkTargets.size(), 2u);
  EXPECT_EQ(terms.LinkTargets[0], u"https://www.google.com/policies/terms/");
  EXPECT_EQ(terms.LinkTargets[1], u"https://www.google.com/policies/privacy/");
  RecordingOpener opener;
  for (const std::u16string& target : terms.LinkTargets) EXPECT_TRUE(controls::ActivateLink(target));
  EXPECT_EQ(opener.Targets, terms.LinkTargets);
}

TEST(OfferTexts, OnlyFreeAndTheLinksAreColoured) {
  const controls::TextColours colours{0x000000, 0x0000FF, true};
  const std::u16string_view labels[] = {offer_texts::GoogleMsgLbl0, offer_texts::GoogleMsgLbl7,
                                        offer_texts::GoogleMsgLbl1, offer_texts::GoogleMsgLbl2,
                                        offer_texts::GoogleMsgLbl3, offer_texts::GoogleMsgLbl4,
                                        offer_texts::GoogleMsgLbl5, offer_texts::GoogleMsgLbl6};
  std::u16string coloured;
  for (std::u16string_view markup : labels) {
    for (const controls::TextRun& run : controls::ParseMarkup(markup).Runs) {
      const controls::Rgb colour = controls::ColourOf(run.Style, colours);
      if (colour == 0xFF0000) coloured += u"[red:" + run.Text + u"]";
      if (colour == 0x0000FF) coloured += u"[blue:" + run.Text + u"]";
      EXPECT_FALSE(run.Style.Italic) << platform::WideToUtf8(run.Text);
    }
  }
  EXPECT_EQ(coloured, u"[red:Free!][blue:Terms and Conditions][blue:Privacy Policy]");
}

}  // namespace
