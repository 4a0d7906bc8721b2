// Text services on Linux: UTF-8 stands for the ANSI code page, and upper-casing
// uses Unicode simple case mapping from the C.UTF-8 locale, whatever LANG says.
#include <locale.h>
#include <wctype.h>

#include "platform/text.h"

namespace platform {
namespace {

locale_t UnicodeLocale() {
  // Made once and kept for the life of the process.
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (l == static_cast<locale_t>(nullptr)) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return locale;
}

char32_t UpperCodePoint(char32_t cp) {
  const locale_t locale = UnicodeLocale();
  if (locale == static_cast<locale_t>(nullptr)) {
    return (cp >= U'a' && cp <= U'z') ? cp - 32 : cp;  // no Unicode tables: ASCII only
  }
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), locale));
}

}  // namespace

std::u16string AnsiToWide(std::string_view text) { return Utf8ToWide(text); }

std::string WideToAnsi(std::u16string_view text) { return WideToUtf8(text); }

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      cp = UpperCodePoint(cp) - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out.push_back(unit);  // a lone surrogate (an undecodable byte) stays as it is
    } else {
      const char32_t upper = UpperCodePoint(unit);
      // Simple mapping keeps the plane for every BMP letter; keep the original otherwise.
      out.push_back(upper < 0x10000 ? static_cast<char16_t>(upper) : unit);
    }
  }
  return out;
}

}  // namespace platform
