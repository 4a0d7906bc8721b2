// The link activation rule, and mouse presses on a label's links through a
// recording opener.
#include "controls/link_activation.h"

#include <gtest/gtest.h>

#include <string>

#include "controls/rich_text.h"
#include "platform/text.h"
#include "tests/controls/fakes.h"

namespace {

struct TargetCase {
  std::u16string Target;
  bool Opens;
};

class LinkRule : public testing::TestWithParam<TargetCase> {};

TEST_P(LinkRule, OpensOnlyTargetsWithSchemeSeparatorOrMailto) {
  const TargetCase& c = GetParam();
  RecordingOpener opener;
  EXPECT_EQ(controls::ActivateLink(c.Target), c.Opens);
  if (c.Opens) {
    ASSERT_EQ(opener.Targets.size(), 1u);
    EXPECT_EQ(opener.Targets[0], c.Target);
  } else {
    EXPECT_TRUE(opener.Targets.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, LinkRule,
                         testing::Values(TargetCase{u"https://www.example.com/policies/terms/", true},
                                         TargetCase{u"http://example.com", true},
                                         TargetCase{u"ftp://example.com/file", true},
                                         TargetCase{u"mailto:someone@example.com", true},
                                         TargetCase{u"see mailto:x", true},
                                         TargetCase{u"www.example.com", false},
                                         TargetCase{u"policies/terms/", false},
                                         TargetCase{u"javascript:alert(1)", false},
                                         TargetCase{u"file:C:/x.exe", false},
                                         TargetCase{u"MAILTO:someone@example.com", false},
                                         TargetCase{u"", false},
                                         TargetCase{u"--help://", false},
                                         TargetCase{u"https://example.com/\nsecond", false}));

TEST(LinkRule, OpenerFailureIsReported) {
  RecordingOpener opener;
  opener.Result = false;
  EXPECT_FALSE(controls::ActivateLink(u"https://example.com/"));
  EXPECT_EQ(opener.Targets.size(), 1u);
}

// A label with an openable link, a link that goes nowhere, and plain text.
class LabelClicks : public testing::Test {
 protected:
  void SetUp() override {
    mText.SetMarkup(u"<b>a</b> <a href=\"https://example.com/x\">web</a> <a href=\"page.html\">local</a> end");
    FakeMeasurer measurer;
    mText.Relayout(measurer, controls::LayoutOptions{false, 0});
  }
  // The centre of the run with that text on the first line.
  std::pair<int, int> CentreOf(std::u16string_view text) const {
    for (const auto& run : mText.Layout().Lines.at(0).Runs) {
      if (run.Text == text) return {run.X + run.Width / 2, mText.Layout().Lines[0].Height / 2};
    }
    ADD_FAILURE() << "no run " << platform::WideToUtf8(text);
    return {-100, -100};
  }
  controls::RichText mText;
  RecordingOpener mOpener;
};

TEST_F(LabelClicks, PressOnAWebLinkOpensItsTarget) {
  const auto [x, y] = CentreOf(u"web");
  EXPECT_TRUE(mText.MouseDown(x, y));
  EXPECT_EQ(mOpener.Targets, std::vector<std::u16string>{u"https://example.com/x"});
  ASSERT_NE(mText.LinkTargetAt(x, y), nullptr);
  EXPECT_EQ(*mText.LinkTargetAt(x, y), u"https://example.com/x");
}

TEST_F(LabelClicks, PressOnALinkWithoutSchemeDoesNothing) {
  const auto [x, y] = CentreOf(u"local");
  ASSERT_NE(mText.LinkTargetAt(x, y), nullptr);
  EXPECT_FALSE(mText.MouseDown(x, y));
  EXPECT_TRUE(mOpener.Targets.empty());
}

TEST_F(LabelClicks, PressOnPlainTextOrOutsideDoesNothing) {
  const auto [x, y] = CentreOf(u"a");
  EXPECT_FALSE(mText.MouseDown(x, y));
  EXPECT_FALSE(mText.MouseDown(mText.Layout().Width + 5, y));
  EXPECT_FALSE(mText.MouseDown(x, mText.Layout().Height + 5));
  EXPECT_TRUE(mOpener.Targets.empty());
  EXPECT_EQ(mText.LinkTargetAt(x, y), nullptr);
}

TEST_F(LabelClicks, NewMarkupClearsTheLayoutUntilRelaidOut) {
  const auto [x, y] = CentreOf(u"web");
  mText.SetMarkup(u"<a href=\"https://example.com/y\">other</a>");
  EXPECT_FALSE(mText.MouseDown(x, y));
  FakeMeasurer measurer;
  mText.Relayout(measurer, controls::LayoutOptions{false, 0});
  EXPECT_TRUE(mText.MouseDown(1, 1));
  EXPECT_EQ(mOpener.Targets, std::vector<std::u16string>{u"https://example.com/y"});
}

}  // namespace
