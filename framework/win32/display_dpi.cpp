// The display's dpi on Win32, through calls looked up at run time.
#include "framework/win32/display_dpi.h"

#include "platform/win32/system_library.h"

namespace framework {

namespace {

constexpr int kMonitorDpiEffective = 0;  // MDT_EFFECTIVE_DPI

template <class Function>
Function Find(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// shcore.dll from the system folder (Windows 8.1 on); null where it is missing.
HMODULE ShellScaling() {
  static HMODULE module = platform::SystemLibrary(L"shcore.dll");
  return module;
}

HMODULE User() { return GetModuleHandleW(L"user32.dll"); }

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 0;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

}  // namespace

int MonitorDpi(POINT point) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = Find<GetDpiForMonitorFn>(ShellScaling(), "GetDpiForMonitor");
  if (getDpiForMonitor != nullptr) {
    UINT x = 0, y = 0;
    HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY);
    if (monitor != nullptr && SUCCEEDED(getDpiForMonitor(monitor, kMonitorDpiEffective, &x, &y)) && y > 0) {
      return static_cast<int>(y);
    }
  }
  return SystemDpi();
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = Find<AdjustForDpiFn>(User(), "AdjustWindowRectExForDpi");
  if (adjustForDpi != nullptr && adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) return;
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

}  // namespace framework
