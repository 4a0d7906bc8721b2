// Conversions between UTF-16 and the system's 8-bit ("ANSI") code page, and
// upper-casing by the system's case rules.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Text in the active ANSI code page to UTF-16. On Linux the ANSI code page is
// UTF-8 whatever the locale says; bytes that are not valid UTF-8 come back as
// lone surrogates U+DC80..U+DCFF so that WideToAnsi restores them unchanged.
std::u16string AnsiToWide(std::string_view text);

// UTF-16 to the active ANSI code page. Characters the code page lacks become
// the system's default character ("?" on Windows).
std::string WideToAnsi(std::u16string_view text);

// Upper-cases the whole text, one character to one character, by the
// system's case mapping (Windows: the user locale; Linux: Unicode simple case
// mapping, independent of LANG).
std::u16string UpperCase(std::u16string_view text);

// UTF-16 <-> UTF-8 without loss (lone surrogates U+DC80..U+DCFF stand for the
// bytes 0x80..0xFF that were not valid UTF-8). Used for file names and test output.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

}  // namespace platform
