// Integers as decimal text, across the whole signed 32-bit range.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "common/decimal.h"

namespace {

TEST(DecimalText, EverySignedValueAsPlainDecimal) {
  EXPECT_EQ(common::IntToStr(0), u"0");
  EXPECT_EQ(common::IntToStr(7), u"7");
  EXPECT_EQ(common::IntToStr(10), u"10") << "a zero digit inside the number is kept";
  EXPECT_EQ(common::IntToStr(-1), u"-1");
  EXPECT_EQ(common::IntToStr(-305), u"-305");
  EXPECT_EQ(common::IntToStr(1000000), u"1000000") << "no grouping";
  EXPECT_EQ(common::IntToStr(std::numeric_limits<std::int32_t>::max()), u"2147483647");
  EXPECT_EQ(common::IntToStr(std::numeric_limits<std::int32_t>::min()), u"-2147483648");
  EXPECT_EQ(common::IntToStr(static_cast<std::int32_t>(0xFFFFFFFEu)), u"-2") << "an id read as signed";
}

}  // namespace
