// The framework's backend on Windows: the window classes, the message loop
// with keyboard navigation, wake-ups from other threads, timers and the
// error box. Forms' windows live in form_window.cpp, check boxes in
// check_box_window.cpp.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "framework/backend.h"
#include "framework/forms.h"
#include "framework/paths.h"
#include "framework/threads.h"
#include "framework/win32/check_box_window.h"
#include "framework/win32/display_dpi.h"
#include "framework/win32/form_window.h"
#include "framework/win32/window_support.h"

namespace framework {

std::set<HWND>& FormHandles() {
  static std::set<HWND> handles;
  return handles;
}

namespace {

constexpr UINT kWakeMessage = WM_APP + 1;

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, bool formLook) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  if (formLook) {
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  }
  RegisterClassExW(&windowClass);
}

class Win32Backend final : public Backend {
 public:
  ~Win32Backend() override {
    if (mServiceWindow != nullptr) DestroyWindow(mServiceWindow);
  }

  void Initialize() override {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32Window::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFormClass;
    RegisterClassExW(&windowClass);
    RegisterWindowClass(kCheckBoxClass, &CheckBoxWindow::Procedure, true);

    // A message-only window receives the wake-ups of other threads and the
    // timers; posted messages reach it also while a modal loop runs.
    RegisterWindowClass(kServiceClass, &Win32Backend::ServiceProcedure, false);
    mServiceWindow = CreateWindowExW(0, kServiceClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), this);
  }

  // A form opens centred on the desktop, on the primary monitor, whose
  // top left is (0, 0).
  int DisplayDpi() override { return MonitorDpi(POINT{0, 0}); }

  std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) override { return std::make_unique<Win32Window>(form); }

  void RunLoop() override {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Tab, Space, Enter and the arrow keys move through and press a form's
      // controls; Escape asks for IDCANCEL, which the dialog does not have.
      HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
      if (root != nullptr && FormHandles().count(root) != 0 && IsDialogMessageW(root, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void QuitLoop() override { PostQuitMessage(0); }

  void WakeMainThread() override { PostMessageW(mServiceWindow, kWakeMessage, 0, 0); }

  int StartTimer(unsigned intervalMs, std::function<void()> tick) override {
    const int id = mNextTimerId++;
    mTimers[id] = std::move(tick);
    SetTimer(mServiceWindow, static_cast<UINT_PTR>(id), intervalMs, nullptr);
    return id;
  }

  void StopTimer(int id) override {
    KillTimer(mServiceWindow, static_cast<UINT_PTR>(id));
    mTimers.erase(id);
  }

  void ShowException(const Exception& error) override {
    MessageBoxW(GetActiveWindow(), Wide(error.Message()), Wide(ApplicationTitle()),
                MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  }

 private:
  static LRESULT CALLBACK ServiceProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowOwner<Win32Backend>(hwnd, message, lParam);
    if (self != nullptr && message == kWakeMessage) {
      CheckSynchronize();
      return 0;
    }
    if (self != nullptr && message == WM_TIMER) {
      const auto found = self->mTimers.find(static_cast<int>(wParam));
      if (found != self->mTimers.end()) {
        const std::function<void()> tick = found->second;  // the tick may stop this timer
        tick();
      }
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  HWND mServiceWindow = nullptr;
  std::map<int, std::function<void()>> mTimers;
  int mNextTimerId = 1;
};

}  // namespace

std::unique_ptr<Backend> CreatePlatformBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace framework
