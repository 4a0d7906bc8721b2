// BSTR strings on Windows: the system's string allocator, from oleaut32.dll
// loaded when a string is first made.
#include "platform/wmi_types.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {
constexpr wchar_t kAutomation[] = L"oleaut32.dll";
}  // namespace

BSTR AllocBstr(std::u16string_view text) {
  static_assert(sizeof(OLECHAR) == sizeof(char16_t));
  using Fn = BSTR(WINAPI*)(const OLECHAR*, UINT);
  static const auto allocString = SystemFunction<Fn>(kAutomation, "SysAllocStringLen");
  if (allocString == nullptr) return nullptr;  // as when memory runs out
  return allocString(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

void FreeBstr(BSTR text) {
  using Fn = void(WINAPI*)(BSTR);
  static const auto freeString = SystemFunction<Fn>(kAutomation, "SysFreeString");
  // Without the allocator no string was made, so none is left to free.
  if (freeString != nullptr) freeString(text);
}

std::u16string_view BstrText(const OLECHAR* text) {
  if (text == nullptr) return {};
  return std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

}  // namespace platform
