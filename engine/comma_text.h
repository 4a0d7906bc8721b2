// Comma text: a list of items written as one text, separated by commas.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Splits a comma text into its items. Commas separate items; outside double
// quotes a character with a code from 1 to 32 also ends an item and is
// skipped. An item that begins with a double quote runs to the next lone
// double quote (or to the end of the text when none follows), two double
// quotes inside standing for one; it may hold commas and blanks. Two
// delimiters in a row give an empty item, a comma at the very end a final
// empty item, and an empty text no items. The text ends at a U+0000.
std::vector<std::u16string> SplitCommaText(std::u16string_view text);

}  // namespace engine
