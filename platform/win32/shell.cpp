// Opening a target with its default handler on Windows: ShellExecuteW "open",
// from shell32.dll loaded when a target is first opened.
#include <windows.h>

#include <string>

#include "platform/shell.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

class Win32LinkOpener final : public LinkOpener {
 public:
  bool OpenWithDefaultHandler(std::u16string_view target) override;
};

bool Win32LinkOpener::OpenWithDefaultHandler(std::u16string_view target) {
  using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
  static const auto shellExecute = SystemFunction<ShellExecuteFn>(L"shell32.dll", "ShellExecuteW");
  if (shellExecute == nullptr) return false;
  const std::wstring wide(target.begin(), target.end());
  const HINSTANCE result = shellExecute(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // Values above 32 mean success; the handle is no real handle and needs no closing.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

LinkOpener& SystemLinkOpener() {
  static Win32LinkOpener opener;
  return opener;
}

}  // namespace platform
