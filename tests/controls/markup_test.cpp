// Parsing of the label markup: tags, nesting, stray closings, attributes,
// entities and hostile input.
#include "controls/markup.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "tests/controls/fakes.h"

using controls::ParseMarkup;

namespace {

struct ParseCase {
  const char* Name;
  std::u16string Markup;
  std::string Runs;  // as Describe writes them
};

class MarkupParse : public testing::TestWithParam<ParseCase> {};

TEST_P(MarkupParse, GivesRuns) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(Describe(ParseMarkup(c.Markup)), c.Runs) << "markup: " << platform::WideToUtf8(c.Markup);
}

const ParseCase kParseCases[] = {
    {"Plain", u"plain text", "plain text{}"},
    {"Empty", u"", ""},
    {"Bold", u"<b>bold</b> plain", "bold{b}| plain{}"},
    {"Italic", u"a<i>b</i>c", "a{}|b{i}|c{}"},
    {"TagsInAnyCase", u"<B>x</b><I>y</i><Font Color=\"#00ff80\">z</fONT>", "x{b}|y{i}|z{#00FF80}"},
    {"NestedSameKind", u"<b><b>x</b>y</b>z", "xy{b}|z{}"},
    {"Interleaved", u"<b>a<i>b</b>c</i>d", "a{b}|b{b,i}|c{i}|d{}"},
    {"StrayClosingsIgnored", u"</b></I></font></A></span>x", "x{}"},
    {"StrayClosingThenOpen", u"</b>a<b>b</b>c", "a{}|b{b}|c{}"},
    {"ExtraClosingIgnored", u"<b>a</b></b>b<b>c</b></b>d", "a{b}|b{}|c{b}|d{}"},
    {"SpanHasNoEffect", u"<span>a</span><SPAN class=\"x\">b</SPAN></span>c", "abc{}"},
    {"OtherTagsDropped", u"a<br>b<p align=center>c</p><img src=\"x.png\"/>d", "abcd{}"},
    {"FontUnquoted", u"<font color=#123456>x</font>", "x{#123456}"},
    {"FontSingleQuoted", u"<font color='#abcdef'>x</font>", "x{#ABCDEF}"},
    {"FontBlanksAroundEquals", u"<FONT color = \"#FF0000\" >x</FONT>", "x{#FF0000}"},
    {"FontNested", u"<font color=\"#FF0000\">a<font color=\"#00FF00\">b</font>c</font>d",
     "a{#FF0000}|b{#00FF00}|c{#FF0000}|d{}"},
    {"FontWithoutColourKeepsOuter", u"<font color=\"#FF0000\">a<font>b</font>c</font>d", "abc{#FF0000}|d{}"},
    {"FontColourName", u"<font color=\"red\">x</font>", "x{}"},
    {"FontColourShort", u"<font color=\"#12345\">x</font>", "x{}"},
    {"FontColourLong", u"<font color=\"#1234567\">x</font>", "x{}"},
    {"FontColourNotHex", u"<font color=\"#GG0000\">x</font>", "x{}"},
    {"FontColourNoHash", u"<font color=\"FF0000\">x</font>", "x{}"},
    {"FirstAttributeWins", u"<font color=\"#000001\" color=\"#000002\">x</font>", "x{#000001}"},
    {"Link", u"see <a href=\"http://x/\">here</a>.", "see {}|here{a0}|.{}"},
    {"LinkUpperCase", u"<A HREF=\"http://x/\">here</A>", "here{a0}"},
    {"LinksNumbered", u"<a href=\"http://1\">a</a> <a href=\"http://2\">b</a>", "a{a0}| {}|b{a1}"},
    {"LinkInheritsBold", u"<b><a href=\"http://x\">t</a></b>", "t{b,a0}"},
    {"LinkWithoutHref", u"<a name=\"n\">t</a>", "t{}"},
    {"LinkWithEmptyHref", u"<a href=\"\">t</a>", "t{}"},
    {"NestedLinks", u"<a href=\"http://1\">a<a href=\"http://2\">b</a>c</a>d", "a{a0}|b{a1}|c{a0}|d{}"},
    {"LiteralLessThan", u"a < b and 1<2", "a < b and 1<2{}"},
    {"LessThanNoName", u"<>x</>", "<>x</>{}"},
    {"LessThanAtEnd", u"x<b>y</b><", "x{}|y{b}|<{}"},
    {"UnterminatedTagIsText", u"x<b>y<i z", "x{}|y<i z{b}"},
    {"UnterminatedQuoteIsText", u"<a href=\"x>link</a>", "<a href=\"x>link</a>{}"},
    {"GreaterThanInQuotes", u"<font color=\"#FF0000\" title=\"a>b\">x</font>", "x{#FF0000}"},
    {"Entities", u"a &amp; b &lt;c&gt; &quot;q&quot;", "a & b <c> \"q\"{}"},
    {"UnknownEntityStays", u"&nbsp; &unknown; & &amp", "&nbsp; &unknown; & &amp{}"},
    {"ControlCharactersAreSpaces", u"a\tb\nc\r\x01", "a b c  {}"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MarkupParse, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& param) { return std::string(param.param.Name); });

TEST(Markup, LinkTargetsInOrderWithEntitiesDecoded) {
  const controls::MarkupText text =
      ParseMarkup(u"<a href=\"https://a.example/?x=1&amp;y=2\">A</a><a href='mailto:b@example'>B</a>");
  ASSERT_EQ(text.LinkTargets.size(), 2u);
  EXPECT_EQ(text.LinkTargets[0], u"https://a.example/?x=1&y=2");
  EXPECT_EQ(text.LinkTargets[1], u"mailto:b@example");
}

TEST(Markup, PlainTextJoinsRuns) {
  EXPECT_EQ(ParseMarkup(u"</b>a<b>b</b><i>c</i>").PlainText(), u"abc");
}

TEST(Markup, AttributeLongerThanTheLimitCountsAsMissing) {
  const std::u16string target = u"http://x/" + std::u16string(controls::kMaxAttributeLength, u'a');
  const controls::MarkupText link = ParseMarkup(u"<a href=\"" + target + u"\">t</a>");
  EXPECT_EQ(Describe(link), "t{}");
  EXPECT_TRUE(link.LinkTargets.empty());

  const std::u16string colour = u"#FF0000" + std::u16string(controls::kMaxAttributeLength, u' ');
  EXPECT_EQ(Describe(ParseMarkup(u"<font color=\"" + colour + u"\">t</font>")), "t{}");
}

TEST(Markup, LongInputIsCut) {
  const std::u16string markup(controls::kMaxMarkupLength + 100, u'x');
  EXPECT_EQ(ParseMarkup(markup).PlainText().size(), controls::kMaxMarkupLength);
}

TEST(Markup, DeepNestingStaysCorrect) {
  constexpr int kDepth = 5000;
  std::u16string markup;
  for (int k = 0; k < kDepth; ++k) markup += u"<b><font color=\"#00FF00\"><a href=\"http://x\">";
  markup += u"deep";
  for (int k = 0; k < kDepth; ++k) markup += u"</a></font></b>";
  markup += u"out";
  ASSERT_GT(markup.size(), controls::kMaxMarkupLength);
  const controls::MarkupText text = ParseMarkup(markup);
  ASSERT_GE(text.Runs.size(), 1u);
  // The input is cut inside the openings: everything left is one deep, bold, green link.
  EXPECT_TRUE(text.Runs.front().Style.Bold);
  EXPECT_TRUE(text.Runs.front().Style.HasColour);
  EXPECT_GE(text.Runs.front().Style.Link, 0);
}

TEST(Markup, DeepNestingUnwindsCompletely) {
  constexpr int kDepth = 3000;
  std::u16string markup;
  for (int k = 0; k < kDepth; ++k) markup += u"<b><i>";
  markup += u"deep";
  for (int k = 0; k < kDepth; ++k) markup += u"</i></b>";
  markup += u"out";
  ASSERT_LE(markup.size(), controls::kMaxMarkupLength);
  EXPECT_EQ(Describe(ParseMarkup(markup)), "deep{b,i}|out{}");
}

TEST(Markup, ManyUnterminatedTagsAreText) {
  // Each "<a" could start a tag: the first one that never ends makes the rest text.
  std::u16string markup;
  for (int k = 0; k < 10000; ++k) markup += u"<a x=";
  const controls::MarkupText text = ParseMarkup(markup);
  EXPECT_EQ(text.PlainText(), markup);
  EXPECT_TRUE(text.LinkTargets.empty());
}

}  // namespace
