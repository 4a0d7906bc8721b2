// The Windows build's first-paint yardstick: the smallest Win32 program with
// a window of the dialog's client size and one button, linked like the setup
// program (static, WIN32 subsystem). Its sizes follow the screen's dpi as the
// dialog's do, so that at every scale both paint the same area.
// Built with NVK_START_AS_SETUP, it starts as the setup program must: with
// its manifest (linked in as a resource), COM on the main thread and the
// common controls, and then makes the same window.
#include <windows.h>
#ifdef NVK_START_AS_SETUP
#include <commctrl.h>
#include <objbase.h>
#endif

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
#ifdef NVK_START_AS_SETUP
  CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
#endif
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &Procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"MinimalWindow";
  if (RegisterClassW(&windowClass) == 0) return 1;
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  const auto scaled = [dpi](int value) { return MulDiv(value, dpi, 96); };
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{0, 0, scaled(442), scaled(397)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  HWND window = CreateWindowExW(0, L"MinimalWindow", L"Setup", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  CreateWindowExW(0, L"BUTTON", L"Install", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, scaled(349), scaled(361), scaled(75),
                  scaled(25), window, nullptr,
                  instance, nullptr);
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
