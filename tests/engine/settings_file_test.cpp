// The settings file's text: byte-order marks, line ends, the BootOption rule
// and the encoding it is written back in.
#include <gtest/gtest.h>

#include "engine/settings_file.h"

namespace {

using Lines = std::vector<std::u16string>;

TEST(SettingsFileTest, DecodesByItsByteOrderMark) {
  using namespace std::string_literals;
  EXPECT_EQ(engine::DecodeSettingsText("\xFF\xFE" "B\0=\0\x16\x04"s), u"B=\u0416");
  EXPECT_EQ(engine::DecodeSettingsText("\xFE\xFF" "\0B\0=\x04\x16"s), u"B=\u0416");
  EXPECT_EQ(engine::DecodeSettingsText("\xEF\xBB\xBF" "B=\xD0\x96"s), u"B=\u0416");
  EXPECT_EQ(engine::DecodeSettingsText("\xFF\xFE" "B\0x"s), u"B") << "a last odd byte is dropped";
  EXPECT_EQ(engine::DecodeSettingsText("plain"), u"plain");
  EXPECT_EQ(engine::DecodeSettingsText(""), u"");
}

TEST(SettingsFileTest, LinesEndAtCrLfLoneCrAndLoneLf) {
  const std::pair<std::u16string, Lines> cases[] = {
      {u"a\r\nb\rc\nd", {u"a", u"b", u"c", u"d"}},
      {u"a\r\n", {u"a"}},
      {u"a\n\nb", {u"a", u"", u"b"}},
      {u"\r\r\n", {u"", u""}},
      {u"a\n\r", {u"a", u""}},
      {u"", {}},
  };
  for (const auto& [text, lines] : cases) EXPECT_EQ(engine::SplitSettingsLines(text), lines);
}

TEST(SettingsFileTest, BootOptionLines) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"BootOption=1", u"BootOption=0"},
      {u"bootoption = 2", u"BootOption=0"},
      {u"BootOption=0", u"BootOption=0"},
      {u"BootOption=0 ", u"BootOption=0"},
      {u"BootOption", u"BootOption"},
      {u"BootOption=", u"BootOption=0"},
      {u"OldBootOptionValue=3", u"BootOption=0"},
      {u"Key=BootOption", u"BootOption=0"},
      {u"BootOption=0=1", u"BootOption=0"},
      {u"Boot Option=1", u"Boot Option=1"},
      {u"other=1", u"other=1"},
  };
  for (const auto& [line, expected] : cases) {
    std::u16string text = line;
    const bool replaced = engine::ResetBootOptionLine(text);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(replaced, line != expected || line == u"BootOption=0 ");
  }
}

TEST(SettingsFileTest, EncodesEveryLineWithCrLfWithoutAByteOrderMark) {
  EXPECT_EQ(engine::EncodeSettingsLines({u"a", u"", u"BootOption=0"}), "a\r\n\r\nBootOption=0\r\n");
  EXPECT_EQ(engine::EncodeSettingsLines({}), "");
}

TEST(SettingsFileTest, NameInTheCodePageRoundTrips) {
  const std::u16string line = u"Name=caf\u00e9";
  EXPECT_EQ(engine::DecodeSettingsText(engine::EncodeSettingsLines({line})), line + u"\r\n");
}

#ifndef _WIN32
TEST(SettingsFileTest, BytesThatAreNotUtf8SurviveUnchangedLines) {
  const std::string bytes = "Name=\xE9t\xE9\xFF\r\nBootOption=1\r\n\x80\x81\xC3\r\n";
  Lines lines = engine::SplitSettingsLines(engine::DecodeSettingsText(bytes));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(engine::ResetBootOptionLine(lines[1]));
  EXPECT_EQ(engine::EncodeSettingsLines(lines), "Name=\xE9t\xE9\xFF\r\nBootOption=0\r\n\x80\x81\xC3\r\n");
}
#endif

}  // namespace
