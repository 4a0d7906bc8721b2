// The staged settings file as lines of text: decoding, line splitting, the
// BootOption reset rule and encoding. Pure functions, no file access.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/path_words.h"

namespace engine {

// The largest settings file that is read, in bytes.
inline constexpr std::size_t kMaxSettingsFileBytes = 8u << 20;

// The names a settings-file name leads through beneath the folder it is
// relative to, the file's own name last: "." steps and empty steps dropped, a
// ".." step taking back the name before it. False for a name that is empty,
// absolute, has a drive mark anywhere (Windows: also an alternate stream),
// holds a NUL character, climbs out of the folder with "..", or names the
// folder itself.
bool SettingsFileSteps(std::u16string_view name, const common::PathDelimiters& delimiters,
                       std::vector<std::u16string>* steps);

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

// Resets every BootOption line of the list (ResetBootOptionLine); returns how
// many were replaced.
std::size_t ResetBootOptionLines(std::vector<std::u16string>& lines);

// The lines in the ANSI code page, each followed by CR LF, without a
// byte-order mark.
std::string EncodeSettingsLines(const std::vector<std::u16string>& lines);

}  // namespace engine
