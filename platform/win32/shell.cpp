// Opening a target with its default handler on Windows: ShellExecuteW "open".
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/shell.h"

namespace platform {
namespace {

class Win32LinkOpener final : public LinkOpener {
 public:
  bool OpenWithDefaultHandler(std::u16string_view target) override;
};

bool Win32LinkOpener::OpenWithDefaultHandler(std::u16string_view target) {
  const std::wstring wide(target.begin(), target.end());
  const HINSTANCE result = ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // Values above 32 mean success; the handle is no real handle and needs no closing.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

LinkOpener& SystemLinkOpener() {
  static Win32LinkOpener opener;
  return opener;
}

}  // namespace platform
