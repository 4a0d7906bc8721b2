// BSTR strings on Linux: a 32-bit byte length before the UTF-16 characters
// and a terminating zero after them, as Windows lays them out.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/wmi_types.h"

namespace platform {

BSTR AllocBstr(std::u16string_view text) {
  const std::size_t bytes = text.size() * sizeof(OLECHAR);
  void* block = std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR));
  if (block == nullptr) return nullptr;
  const auto length = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &length, sizeof length);
  auto* chars = reinterpret_cast<OLECHAR*>(static_cast<char*>(block) + sizeof(std::uint32_t));
  if (bytes != 0) std::memcpy(chars, text.data(), bytes);
  chars[text.size()] = u'\0';
  return chars;
}

void FreeBstr(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<char*>(text) - sizeof(std::uint32_t));
}

std::u16string_view BstrText(const OLECHAR* text) {
  if (text == nullptr) return {};
  return std::u16string_view(text);
}

}  // namespace platform
