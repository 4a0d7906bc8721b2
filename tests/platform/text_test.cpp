// Text conversions and the framework's text helpers.
#include <gtest/gtest.h>

#include "framework/sysutils.h"
#include "platform/text.h"

namespace {

TEST(Utf8, RoundTripKeepsEveryByteSequence) {
  const std::string samples[] = {
      "plain", "\xc3\xa9t\xc3\xa9", "\xf0\x9f\x98\x80 astral", "bad \xff\xfe bytes",
      "truncated \xe2\x82", "overlong \xc0\xaf", "surrogate \xed\xa0\x80", "", std::string("nul\0in", 6)};
  for (const std::string& sample : samples) {
    EXPECT_EQ(platform::WideToUtf8(platform::Utf8ToWide(sample)), sample) << sample;
  }
  EXPECT_EQ(platform::Utf8ToWide("\xc3\xa9"), u"\u00e9");
  EXPECT_EQ(platform::Utf8ToWide("a\xff"), std::u16string(u"a\xdcff"));
  EXPECT_EQ(platform::Utf8ToWide("\xf0\x9f\x98\x80"), u"\U0001F600");
}

TEST(AnsiCodePage, ConversionPerBuild) {
#ifdef _WIN32
  // Windows-1252 under the test prefix.
  EXPECT_EQ(platform::WideToAnsi(u"\u00e9"), "\xe9");
  EXPECT_EQ(platform::AnsiToWide("\xe9"), u"\u00e9");
  EXPECT_EQ(platform::WideToAnsi(u"\u0436"), "?");
#else
  // UTF-8 stands for the ANSI code page, whatever the locale.
  EXPECT_EQ(platform::WideToAnsi(u"\u00e9\u0436"), "\xc3\xa9\xd0\xb6");
  EXPECT_EQ(platform::AnsiToWide("\xd0\xb6"), u"\u0436");
  EXPECT_EQ(platform::WideToAnsi(platform::AnsiToWide("x\x80y")), "x\x80y");
#endif
}

TEST(UpperCase, WholeStringOneCharacterEach) {
  EXPECT_EQ(AnsiUpperCase(u"tool.exe /debug"), u"TOOL.EXE /DEBUG");
  EXPECT_EQ(AnsiUpperCase(u"\u00e9t\u00e9"), u"\u00c9T\u00c9");
  EXPECT_EQ(AnsiUpperCase(u"\u0436\u03b1"), u"\u0416\u0391");
  // Simple mapping: sharp s has no one-character capital and stays.
  EXPECT_EQ(AnsiUpperCase(u"stra\u00dfe"), u"STRA\u00dfE");
  EXPECT_EQ(AnsiUpperCase(u"\U0001F600x"), u"\U0001F600X");
  EXPECT_EQ(AnsiUpperCase(u""), u"");
}

TEST(SysUtils, IntToStrIsSigned32BitDecimal) {
  EXPECT_EQ(IntToStr(0), u"0");
  EXPECT_EQ(IntToStr(-1), u"-1");
  EXPECT_EQ(IntToStr(2147483647), u"2147483647");
  EXPECT_EQ(IntToStr(-2147483647 - 1), u"-2147483648");
  EXPECT_EQ(IntToStr(static_cast<std::int32_t>(0x80000000u)), u"-2147483648");
}

TEST(SysUtils, TrimAndPos) {
  EXPECT_EQ(Trim(u" \t\x01 a b \r\n"), u"a b");
  EXPECT_EQ(Trim(u"   "), u"");
  EXPECT_EQ(Trim(u"\u00a0x\u00a0"), u"\u00a0x\u00a0") << "only codes up to U+0020 are trimmed";
  EXPECT_EQ(Pos(u"/FILE:", u"X /FILE:A"), 3u);
  EXPECT_EQ(Pos(u"/DEBUG", u"X"), 0u);
}

}  // namespace
