// Splitting a command-line text into arguments by the Windows rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments of a command-line text that follows the program name, split
// as CommandLineToArgvW splits them: blanks and tabs outside double quotes
// separate arguments; 2n backslashes before a double quote give n
// backslashes and the quote opens or closes a quoted part; 2n+1 give n
// backslashes and a literal quote; other backslashes are literal; in a run of
// quotes every third quote counted from the opening one is literal, and a
// pair inside a quoted part gives one quote and ends the quoted part.
std::vector<std::u16string> SplitWindowsArguments(std::u16string_view text);

}  // namespace platform
