// Text compared without regard to ASCII case: only the 26 letters fold, and
// characters next to them or outside ASCII match only themselves.
#include <gtest/gtest.h>

#include <string>

#include "common/ascii_case.h"

namespace {

using common::EqualsIgnoringAsciiCase;

TEST(AsciiCase, OnlyTheAsciiLettersFold) {
  const struct {
    std::u16string_view A;
    std::u16string_view B;
    bool Equal;
  } cases[] = {
      {u"", u"", true},
      {u"WQL", u"wql", true},
      {u"Root\\CimV2", u"ROOT\\cimv2", true},
      {u"AZaz", u"azAZ", true},
      {u"font", u"fon", false},
      {u"fon", u"font", false},
      {u"b", u"i", false},
      // Neighbours of the letter ranges, which a fold by bit or by a wider
      // range would match.
      {u"@", u"`", false},
      {u"[", u"{", false},
      {u"^", u"~", false},
      {u"_", u"\x7f", false},
      // Outside ASCII nothing folds, and a character equals itself.
      {u"\u00c9", u"\u00e9", false},
      {u"\u00e9", u"\u00e9", true},
      {u"\u0130", u"i", false},
      {u"\u212a", u"k", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.A, c.B), c.Equal)
        << std::string(c.A.begin(), c.A.end()) << " / " << std::string(c.B.begin(), c.B.end());
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.B, c.A), c.Equal) << "either way round";
  }
}

}  // namespace
