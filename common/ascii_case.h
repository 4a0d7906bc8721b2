// Text compared without regard to the case of ASCII letters: "A" to "Z" match
// "a" to "z", every other character matches only itself. For names that are
// ASCII by definition (markup tags, property and namespace names, query
// languages), the same on every machine whatever its locale.
#pragma once

#include <string_view>

namespace common {

// The ASCII capital letters become small letters; every other character stays.
constexpr char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

constexpr bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace common
