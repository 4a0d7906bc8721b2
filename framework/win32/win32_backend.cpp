// The framework's backend on Windows: plain Win32 windows and message loop.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/threads.h"

namespace framework {
namespace {

constexpr wchar_t kFormClass[] = L"TNorvikForm";
constexpr wchar_t kServiceClass[] = L"TNorvikService";
constexpr UINT kWakeMessage = WM_APP + 1;

// The application's title: the program's file name without its extension.
std::wstring ApplicationTitle() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path);
  const std::size_t slash = name.find_last_of(L"\\/:");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The top-level windows of forms, for keyboard navigation in the message loop.
std::set<HWND>& FormHandles() {
  static std::set<HWND> handles;
  return handles;
}

constexpr int kFirstControlId = 100;

class Win32Window final : public FormWindow {
 public:
  explicit Win32Window(TForm& form) : mForm(form) {
    const FormProperties& p = form.Properties();
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (p.MinimizeBox) style |= WS_MINIMIZEBOX;
    if (p.MaximizeBox) style |= WS_MAXIMIZEBOX;
    if (p.BorderStyle == TFormBorderStyle::bsSizeable) style |= WS_THICKFRAME;
    const DWORD exStyle = Application->MainFormOnTaskBar ? WS_EX_APPWINDOW : 0;
    RECT frame = {0, 0, p.ClientWidth, p.ClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    if (p.Position == TPosition::poDesktopCenter) {
      x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
      y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    }
    mHandle = CreateWindowExW(exStyle, kFormClass, Wide(p.Caption), style, x, y, width, height, nullptr,
                              nullptr, GetModuleHandleW(nullptr), this);
    if (mHandle == nullptr) throw Exception(u"The window could not be created.");
    FormHandles().insert(mHandle);
    // The form's font: Tahoma, 11 pixels high (8 points at 96 dots per inch).
    mFont = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  }

  ~Win32Window() override {
    if (mHandle != nullptr) {
      FormHandles().erase(mHandle);
      SetWindowLongPtrW(mHandle, GWLP_USERDATA, 0);
      DestroyWindow(mHandle);
    }
    if (mFont != nullptr) DeleteObject(mFont);
  }

  void AddButton(TButton& button) override {
    const int id = kFirstControlId + static_cast<int>(mButtons.size());
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (button.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND handle = CreateWindowExW(0, L"BUTTON", Wide(button.Caption), style, button.FormLeft(), button.FormTop(),
                                  button.Width, button.Height, mHandle,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                  nullptr);
    if (handle == nullptr) throw Exception(u"The button could not be created.");
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(mFont), FALSE);
    mButtons.push_back(&button);
  }

  void SetVisible(bool visible) override { ShowWindow(mHandle, visible ? SW_SHOW : SW_HIDE); }

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == WM_CLOSE) {
      Application->DeliverEvent([self] { self->mForm.Close(); });
      return 0;
    }
    if (self != nullptr && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
      const int index = static_cast<int>(LOWORD(wParam)) - kFirstControlId;
      if (index >= 0 && index < static_cast<int>(self->mButtons.size())) {
        TButton* button = self->mButtons[static_cast<std::size_t>(index)];
        Application->DeliverEvent([button] { button->Click(); });
      }
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

 private:
  TForm& mForm;
  HWND mHandle = nullptr;
  HFONT mFont = nullptr;
  std::vector<TButton*> mButtons;  // by control id
};

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

    // A message-only window receives the wake-ups of other threads and the
    // timers; posted messages reach it also while a modal loop runs.
    WNDCLASSEXW serviceClass = {};
    serviceClass.cbSize = sizeof serviceClass;
    serviceClass.lpfnWndProc = &Win32Backend::ServiceProcedure;
    serviceClass.hInstance = GetModuleHandleW(nullptr);
    serviceClass.lpszClassName = kServiceClass;
    RegisterClassExW(&serviceClass);
    mServiceWindow = CreateWindowExW(0, kServiceClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     GetModuleHandleW(nullptr), this);
  }

  std::unique_ptr<FormWindow> CreateFormWindow(TForm& form) override {
    return std::make_unique<Win32Window>(form);
  }

  void RunLoop() override {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Tab, Space and the arrow keys move through and press a form's controls.
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
    MessageBoxW(GetActiveWindow(), Wide(error.Message()), ApplicationTitle().c_str(),
                MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  }

 private:
  static LRESULT CALLBACK ServiceProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Backend*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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
