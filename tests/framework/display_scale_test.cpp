// The Linux build's display density from NVK_SCALE's text and from the X
// server's resource text, odd values included.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "framework/linux/display_scale.h"

namespace {

using framework::ChooseDisplayDpi;
using framework::DpiFromScaleFactor;
using framework::DpiFromXResources;

TEST(ScaleFactorTest, FactorsGiveNinetySixTimesTheFactorRounded) {
  EXPECT_EQ(DpiFromScaleFactor("1"), 96);
  EXPECT_EQ(DpiFromScaleFactor("1.5"), 144);
  EXPECT_EQ(DpiFromScaleFactor("2"), 192);
  EXPECT_EQ(DpiFromScaleFactor("1.25"), 120);
  EXPECT_EQ(DpiFromScaleFactor("1.3"), 125);     // 124.8
  EXPECT_EQ(DpiFromScaleFactor("1.7"), 163);     // 163.2
  EXPECT_EQ(DpiFromScaleFactor("1.515625"), 146);  // 145.5: a half goes up
}

TEST(ScaleFactorTest, FactorsOutsideTheRangeAreKeptWithinIt) {
  EXPECT_EQ(DpiFromScaleFactor("0"), 96);
  EXPECT_EQ(DpiFromScaleFactor("0.5"), 96);
  EXPECT_EQ(DpiFromScaleFactor("-2"), 96);
  EXPECT_EQ(DpiFromScaleFactor("4"), 384);
  EXPECT_EQ(DpiFromScaleFactor("4.1"), 384);
  EXPECT_EQ(DpiFromScaleFactor("100"), 384);
  EXPECT_EQ(DpiFromScaleFactor("1e300"), 384);
}

TEST(ScaleFactorTest, TextThatIsNotANumberGivesNone) {
  EXPECT_EQ(DpiFromScaleFactor(nullptr), std::nullopt);
  for (const char* text : {"", "abc", "1.5x", "x1.5", "nan", "NaN", "inf", "-inf", " 1.5", "1.5 ", "1,5", "1.5.1",
                           "0x2", "1e999"}) {
    EXPECT_EQ(DpiFromScaleFactor(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(XResourcesTest, XftDpiIsReadAmongOtherResources) {
  EXPECT_EQ(DpiFromXResources("Xft.dpi:\t144\n"), 144);
  EXPECT_EQ(DpiFromXResources("Xft.antialias:\t1\nXft.dpi:\t192\nXft.hinting:\t1\n"), 192);
  EXPECT_EQ(DpiFromXResources("*background:\tgrey\nXft.dpi: 120 \n"), 120);
  EXPECT_EQ(DpiFromXResources("Xft.dpi:\t96\n"), 96);
  EXPECT_EQ(DpiFromXResources("Xft.dpi:\t143.6\n"), 144);
  EXPECT_EQ(DpiFromXResources("Xft*dpi:\t168\n"), 168);  // a loose binding matches, as it does for Xft
}

TEST(XResourcesTest, ValuesAreKeptWithinTheRange) {
  EXPECT_EQ(DpiFromXResources("Xft.dpi:\t72\n"), 96);
  EXPECT_EQ(DpiFromXResources("Xft.dpi:\t1000\n"), 384);
}

TEST(XResourcesTest, NoUsableXftDpiGivesNone) {
  EXPECT_EQ(DpiFromXResources(nullptr), std::nullopt);
  EXPECT_EQ(DpiFromXResources(""), std::nullopt);
  EXPECT_EQ(DpiFromXResources("Xft.antialias:\t1\n"), std::nullopt);
  EXPECT_EQ(DpiFromXResources("Xterm.dpi:\t144\n"), std::nullopt);
  EXPECT_EQ(DpiFromXResources("Xft.dpix:\t144\n"), std::nullopt);
  for (const char* value : {"abc", "0", "-144", "nan", "144dpi", "1,5"}) {
    const std::string text = std::string("Xft.dpi:\t") + value + "\n";
    EXPECT_EQ(DpiFromXResources(text.c_str()), std::nullopt) << value;
  }
}

TEST(ChooseDisplayDpiTest, TheFactorWinsThenTheResourceThenNinetySix) {
  EXPECT_EQ(ChooseDisplayDpi("2", "Xft.dpi:\t144\n"), 192);
  EXPECT_EQ(ChooseDisplayDpi("1", "Xft.dpi:\t144\n"), 96);  // a factor of 1 also overrides
  EXPECT_EQ(ChooseDisplayDpi(nullptr, "Xft.dpi:\t144\n"), 144);
  EXPECT_EQ(ChooseDisplayDpi("1.5x", "Xft.dpi:\t192\n"), 192);  // an unusable factor is ignored
  EXPECT_EQ(ChooseDisplayDpi("", "Xft.dpi:\t192\n"), 192);
  EXPECT_EQ(ChooseDisplayDpi("abc", nullptr), 96);
  EXPECT_EQ(ChooseDisplayDpi(nullptr, "Xft.antialias:\t1\n"), 96);
  EXPECT_EQ(ChooseDisplayDpi(nullptr, nullptr), 96);
}

}  // namespace
