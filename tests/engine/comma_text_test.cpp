// Comma text splitting.
#include <gtest/gtest.h>

#include "engine/comma_text.h"
#include "platform/text.h"

namespace {

using Items = std::vector<std::u16string>;

TEST(CommaText, SplitsIntoItems) {
  const struct {
    std::u16string Text;
    Items Expected;
  } cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"a", {u"a"}},
      {u"a,b,c", {u"a", u"b", u"c"}},
      // Blanks and control characters end an item outside quotes and are skipped.
      {u"a b", {u"a", u"b"}},
      {u"  a ,  b  ", {u"a", u"b"}},
      {u"a\tb\x01" u"c\x1f" u"d", {u"a", u"b", u"c", u"d"}},
      {u"a\u00a0b", {u"a\u00a0b"}},
      // Empty items.
      {u"a,,b", {u"a", u"", u"b"}},
      {u",a", {u"", u"a"}},
      {u",", {u"", u""}},
      {u"a,", {u"a", u""}},
      {u"a, ", {u"a"}},
      {u"a , , b", {u"a", u"", u"b"}},
      // Quoted items.
      {u"\"a b,c\",d", {u"a b,c", u"d"}},
      {u"\"say \"\"hi\"\"\"", {u"say \"hi\""}},
      {u"\"\"", {u""}},
      {u"\"\",\"\"", {u"", u""}},
      {u"\"\"\"\"", {u"\""}},
      {u"\"a\"b", {u"a", u"b"}},
      {u"a\"b", {u"a\"b"}},
      {u"\"open, to the end", {u"open, to the end"}},
      {u"\"tab\there\"", {u"tab\there"}},
      // The text ends at U+0000.
      {std::u16string(u"a,b\0c", 5), {u"a", u"b"}},
      // A copy request: source, target, flags, exclusions.
      {u"\"C:\\Src Dir\\*.*\",C:\\Dst,/E,\"C:\\Src Dir\\a.txt,C:\\Src Dir\\sub\"",
       {u"C:\\Src Dir\\*.*", u"C:\\Dst", u"/E", u"C:\\Src Dir\\a.txt,C:\\Src Dir\\sub"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(engine::SplitCommaText(c.Text), c.Expected) << platform::WideToUtf8(c.Text);
  }
}

TEST(CommaText, ExclusionListSplitsAgain) {
  const Items items = engine::SplitCommaText(u"src,dst,/E,\"C:\\a b\\x.txt,C:\\a b\\sub\"");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(engine::SplitCommaText(items[3]), (Items{u"C:\\a", u"b\\x.txt", u"C:\\a", u"b\\sub"}))
      << "blanks split unquoted items";
}

}  // namespace
