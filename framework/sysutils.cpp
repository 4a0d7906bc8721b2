// Text and time helpers of the framework.
#include "framework/sysutils.h"

#include "platform/clock.h"
#include "platform/text.h"

std::u16string Trim(std::u16string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] <= u' ') ++first;
  while (last > first && text[last - 1] <= u' ') --last;
  return std::u16string(text.substr(first, last - first));
}

std::u16string AnsiUpperCase(std::u16string_view text) { return platform::UpperCase(text); }

std::size_t Pos(std::u16string_view sub, std::u16string_view text) {
  const std::size_t found = text.find(sub);
  return found == std::u16string_view::npos ? 0 : found + 1;
}

void Sleep(unsigned milliseconds) { platform::CurrentClock().Sleep(milliseconds); }
