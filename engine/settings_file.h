// The staged settings file as lines of text: decoding, line splitting, the
// BootOption reset rule and encoding. Pure functions, no file access.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The file's bytes as text: UTF-16 little-endian (FF FE), UTF-16 big-endian
// (FE FF) or UTF-8 (EF BB BF) after a byte-order mark, which is dropped;
// otherwise the ANSI code page (on Linux UTF-8, with bytes that are not valid
// UTF-8 kept so that encoding restores them). A last odd byte of UTF-16 is dropped.
std::u16string DecodeSettingsText(std::string_view bytes);

// The lines of a text; lines end at CR LF, a lone CR or a lone LF, and a final
// line break adds no empty line.
std::vector<std::u16string> SplitSettingsLines(std::u16string_view text);

// Resets a BootOption line: a line whose upper-cased text contains
// "BOOTOPTION" and which contains "=" becomes "BootOption=0" unless the text
// after its first "=" is exactly "0". True when the line was replaced.
bool ResetBootOptionLine(std::u16string& line);

// The lines in the ANSI code page, each followed by CR LF, without a
// byte-order mark.
std::string EncodeSettingsLines(const std::vector<std::u16string>& lines);

}  // namespace engine
