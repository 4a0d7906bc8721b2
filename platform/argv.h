// Splitting a command-line text into arguments by the Windows C runtime's rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments of a command-line text that follows the program name, split
// as a Windows program's C runtime splits them for main: blanks and tabs
// outside double quotes separate arguments; 2n backslashes before a double
// quote give n backslashes and the quote opens or closes a quoted part; 2n+1
// give n backslashes and a literal quote; other backslashes are literal;
// inside a quoted part a doubled quote gives one quote and the part stays
// quoted.
std::vector<std::u16string> SplitWindowsArguments(std::u16string_view text);

}  // namespace platform
