// BSTR strings on Windows: the system's string allocator.
#include "platform/wmi_types.h"

namespace platform {

BSTR AllocBstr(std::u16string_view text) {
  static_assert(sizeof(OLECHAR) == sizeof(char16_t));
  return ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

void FreeBstr(BSTR text) { ::SysFreeString(text); }

std::u16string_view BstrText(const OLECHAR* text) {
  if (text == nullptr) return {};
  return std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

}  // namespace platform
