// Text services on Windows: the active ANSI code page and the user locale's case rules.
#include <windows.h>

#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {

std::u16string AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, Wide(out), length);
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = WideUnits(text);
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, size, out.data(), length, nullptr, nullptr);
  return out;
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  if (!out.empty()) {
    CharUpperBuffW(Wide(out), static_cast<DWORD>(out.size()));
  }
  return out;
}

}  // namespace platform
