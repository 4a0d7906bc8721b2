// Process preparation on Windows.
#include <windows.h>

#include "platform/startup.h"

namespace platform {
namespace {

class Win32Startup final : public Startup {
 public:
  void PrepareProcess() override;
};

void Win32Startup::PrepareProcess() {
  // The program runs elevated, often from a downloads folder: never load a
  // DLL from the program's or the current folder. SetDefaultDllDirectories
  // exists from Windows 8 (and Windows 7 with its update); look it up.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel != nullptr) {
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
  }
  SetDllDirectoryW(L"");
}

}  // namespace

Startup& SystemStartup() {
  static Win32Startup startup;
  return startup;
}

}  // namespace platform
