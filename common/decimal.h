// Integers as decimal text: the one conversion every layer uses for trace
// lines and file names.
#pragma once

#include <cstdint>
#include <string>

namespace common {

// A signed 32-bit decimal number: no leading zeros, grouping or plus sign.
inline std::u16string IntToStr(std::int32_t value) {
  // Built from the magnitude so that the lowest value needs no special case.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char16_t digits[11];
  std::size_t start = sizeof digits / sizeof digits[0];
  do {
    digits[--start] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::u16string text = value < 0 ? u"-" : u"";
  text.append(digits + start, digits + sizeof digits / sizeof digits[0]);
  return text;
}

}  // namespace common
