// The framework's backend on Windows: plain Win32 windows and message loop.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "controls/link_activation.h"
#include "framework/backend.h"
#include "framework/check_box_look.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/threads.h"
#include "framework/win32/gdi_text.h"

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

// The object a window was created for (its creation parameter), kept in the
// window's user data from WM_NCCREATE on; null before that and after release.
template <class Owner>
Owner* WindowOwner(HWND hwnd, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The top-level windows of forms, for keyboard navigation in the message loop.
std::set<HWND>& FormHandles() {
  static std::set<HWND> handles;
  return handles;
}

constexpr int kFirstControlId = 100;
constexpr wchar_t kCheckBoxClass[] = L"TNorvikHTMLCheckBox";

// A memory bitmap the size of a rectangle: drawing goes there first and
// reaches the screen in one copy, so nothing flickers.
class BufferedPaint {
 public:
  BufferedPaint(HDC target, int width, int height)
      : mTarget(target), mWidth(width), mHeight(height), mDc(CreateCompatibleDC(target)),
        mBitmap(CreateCompatibleBitmap(target, width > 0 ? width : 1, height > 0 ? height : 1)),
        mOriginal(SelectObject(mDc, mBitmap)) {}
  ~BufferedPaint() {
    BitBlt(mTarget, 0, 0, mWidth, mHeight, mDc, 0, 0, SRCCOPY);
    SelectObject(mDc, mOriginal);
    DeleteObject(mBitmap);
    DeleteDC(mDc);
  }
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;
  HDC Dc() const { return mDc; }

 private:
  HDC mTarget;
  int mWidth;
  int mHeight;
  HDC mDc;
  HBITMAP mBitmap;
  HGDIOBJ mOriginal;
};

void FillRgb(HDC dc, int left, int top, int width, int height, controls::Rgb colour) {
  const COLORREF previous = SetBkColor(dc, ToColorRef(colour));
  const RECT area = {left, top, left + width, top + height};
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
  SetBkColor(dc, previous);
}

// A picture as a top-down 32-bit DIB, ready for SetDIBitsToDevice.
struct DibPicture {
  explicit DibPicture(const TBitmap& picture) : Width(picture.Width), Height(picture.Height) {
    Pixels.resize(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
    for (int y = 0; y < Height; ++y) {
      for (int x = 0; x < Width; ++x) Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x)] = picture.Pixel(x, y);
    }
  }
  void Draw(HDC dc, int left, int top, int width, int height) const {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -Height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const int shownWidth = std::min(width, Width);
    const int shownHeight = std::min(height, Height);
    if (shownWidth <= 0 || shownHeight <= 0) return;
    SetDIBitsToDevice(dc, left, top, static_cast<DWORD>(shownWidth), static_cast<DWORD>(shownHeight), 0,
                      static_cast<UINT>(Height - shownHeight), 0, static_cast<UINT>(Height), Pixels.data(), &info,
                      DIB_RGB_COLORS);
  }
  int Width;
  int Height;
  std::vector<std::uint32_t> Pixels;  // 0x00RRGGBB is BGRA in memory
};

class Win32Window;

// The child window of a check box: transparent over the form's drawing.
struct CheckBoxWindow {
  Win32Window* Form;
  THTMLCheckBox* Box;
  HWND Handle = nullptr;
  bool Pressed = false;
};

class Win32Window final : public FormWindow {
 public:
  explicit Win32Window(TForm& form) : mForm(form), mFormFont(form.Properties().Font) {
    const FormProperties& p = form.Properties();
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (p.MinimizeBox) style |= WS_MINIMIZEBOX;
    if (p.MaximizeBox) style |= WS_MAXIMIZEBOX;
    if (p.BorderStyle == TFormBorderStyle::bsSizeable) style |= WS_THICKFRAME;
    const DWORD exStyle = (Application->MainFormOnTaskBar ? WS_EX_APPWINDOW : 0) | WS_EX_CONTROLPARENT;
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
  }

  ~Win32Window() override {
    if (mHandle != nullptr) {
      FormHandles().erase(mHandle);
      SetWindowLongPtrW(mHandle, GWLP_USERDATA, 0);
      for (auto& box : mCheckBoxes) SetWindowLongPtrW(box->Handle, GWLP_USERDATA, 0);
      DestroyWindow(mHandle);
    }
  }

  void AddButton(TButton& button) override {
    const int id = kFirstControlId + static_cast<int>(mButtons.size());
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (button.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND handle = CreateWindowExW(0, L"BUTTON", Wide(button.Caption), style, button.FormLeft(), button.FormTop(),
                                  button.Width, button.Height, mHandle,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                  nullptr);
    if (handle == nullptr) throw Exception(u"The button could not be created.");
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(mFormFont.Get({})), FALSE);
    mButtons.push_back(&button);
    AddTabStop(button.TabOrder, handle);
  }

  void AddPanel(TPanel& panel) override { mScene.push_back(Drawn{&panel, nullptr, nullptr, nullptr, nullptr}); }

  void AddImage(TImage& image) override {
    auto picture = image.Picture.Empty() ? nullptr : std::make_unique<DibPicture>(image.Picture);
    mScene.push_back(Drawn{&image, nullptr, &image, nullptr, std::move(picture)});
  }

  void AddLabel(THTMLabel& label) override {
    auto fonts = std::make_unique<GdiFontSet>(label.Font);
    {
      HDC screen = GetDC(mHandle);
      GdiText measurer(screen, *fonts);
      label.Relayout(measurer);
      ReleaseDC(mHandle, screen);
    }
    mScene.push_back(Drawn{&label, &label, nullptr, std::move(fonts), nullptr});
  }

  void AddCheckBox(THTMLCheckBox& box) override {
    auto window = std::make_unique<CheckBoxWindow>(CheckBoxWindow{this, &box});
    window->Handle = CreateWindowExW(0, kCheckBoxClass, Wide(box.Caption), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                     box.FormLeft(), box.FormTop(), box.Width, box.Height, mHandle, nullptr,
                                     GetModuleHandleW(nullptr), window.get());
    if (window->Handle == nullptr) throw Exception(u"The check box could not be created.");
    AddTabStop(box.TabOrder, window->Handle);
    mCheckBoxes.push_back(std::move(window));
  }

  void SetVisible(bool visible) override {
    if (visible && !mArranged) ArrangeTabOrder();
    ShowWindow(mHandle, visible ? SW_SHOW : SW_HIDE);
    if (visible) UpdateWindow(mHandle);
  }

  // Draws every drawn control (panels, pictures, labels) in their order, the
  // form's point (originX, originY) at the context's top left.
  void Render(HDC dc, int originX, int originY, int width, int height) {
    POINT previous{};
    SetViewportOrgEx(dc, -originX, -originY, &previous);
    FillRgb(dc, originX, originY, width, height, ResolveColor(mForm.Properties().Color));
    for (const Drawn& drawn : mScene) {
      const TControl& c = *drawn.Control;
      if (drawn.Label != nullptr) {
        DrawLabel(dc, *drawn.Label, *drawn.Fonts);
      } else if (drawn.Image != nullptr) {
        if (drawn.Picture) drawn.Picture->Draw(dc, c.FormLeft(), c.FormTop(), c.Width, c.Height);
      } else if (const auto* panel = dynamic_cast<const TPanel*>(&c)) {
        DrawPanel(dc, *panel);
      }
    }
    SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
  }

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowOwner<Win32Window>(hwnd, message, lParam);
    if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
      case WM_CLOSE:
        Application->DeliverEvent([self] { self->mForm.Close(); });
        return 0;
      case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) self->ButtonClicked(static_cast<int>(LOWORD(wParam)));
        return 0;
      case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers everything
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT client{};
        GetClientRect(hwnd, &client);
        {
          BufferedPaint buffer(dc, client.right, client.bottom);
          self->Render(buffer.Dc(), 0, 0, client.right, client.bottom);
        }
        EndPaint(hwnd, &paint);
        return 0;
      }
      case WM_PRINTCLIENT: {
        // A themed button asks for what lies behind its rounded corners.
        RECT client{};
        GetClientRect(hwnd, &client);
        self->Render(reinterpret_cast<HDC>(wParam), 0, 0, client.right, client.bottom);
        return 0;
      }
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
        self->MouseDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
      case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT && self->LinkUnderCursor()) {
          SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
          return TRUE;
        }
        break;
      case WM_ACTIVATE:
        self->Activate(LOWORD(wParam) != WA_INACTIVE);
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  static LRESULT CALLBACK CheckBoxProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* box = WindowOwner<CheckBoxWindow>(hwnd, message, lParam);
    if (box == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
      case WM_GETDLGCODE:
        return DLGC_BUTTON;
      case WM_ERASEBKGND:
        return 1;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        box->Form->PaintCheckBox(dc, *box->Box);
        EndPaint(hwnd, &paint);
        return 0;
      }
      case WM_PRINTCLIENT:
        box->Form->PaintCheckBox(reinterpret_cast<HDC>(wParam), *box->Box);
        return 0;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        SetFocus(hwnd);
        SetCapture(hwnd);
        box->Pressed = true;
        return 0;
      case WM_LBUTTONUP: {
        if (!box->Pressed) return 0;
        box->Pressed = false;
        ReleaseCapture();
        RECT area{};
        GetClientRect(hwnd, &area);
        const POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (PtInRect(&area, at)) Toggle(*box);
        return 0;
      }
      case WM_CAPTURECHANGED:
        box->Pressed = false;
        return 0;
      case WM_KEYDOWN:
        if (wParam == VK_SPACE && (lParam & (1 << 30)) == 0) Toggle(*box);
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

 private:
  struct Drawn {
    TControl* Control;
    THTMLabel* Label;
    TImage* Image;
    std::unique_ptr<GdiFontSet> Fonts;
    std::unique_ptr<DibPicture> Picture;
  };

  static void Toggle(CheckBoxWindow& box) {
    THTMLCheckBox* control = box.Box;
    Application->DeliverEvent([control] { control->Toggle(); });
    InvalidateRect(box.Handle, nullptr, FALSE);
  }

  void PaintCheckBox(HDC dc, const THTMLCheckBox& box) {
    BufferedPaint buffer(dc, box.Width, box.Height);
    if (box.Transparent) {
      Render(buffer.Dc(), box.FormLeft(), box.FormTop(), box.Width, box.Height);
    } else {
      FillRgb(buffer.Dc(), 0, 0, box.Width, box.Height, ResolveColor(box.Color));
    }
    ClassicPalette palette;
    palette.Shadow = ResolveColor(kSystemColor | COLOR_3DSHADOW);
    palette.DarkShadow = ResolveColor(kSystemColor | COLOR_3DDKSHADOW);
    palette.Highlight = ResolveColor(kSystemColor | COLOR_3DHILIGHT);
    palette.Light = ResolveColor(kSystemColor | COLOR_3DLIGHT);
    palette.Field = ResolveColor(kSystemColor | COLOR_WINDOW);
    HDC target = buffer.Dc();
    PaintClassicCheckBox(0, (box.Height - kCheckBoxSize) / 2, box.Checked, ResolveColor(box.CheckColor), palette,
                         [target](int left, int top, int width, int height, controls::Rgb colour) {
                           FillRgb(target, left, top, width, height, colour);
                         });
  }

  void DrawPanel(HDC dc, const TPanel& panel) {
    const int left = panel.FormLeft(), top = panel.FormTop(), width = panel.Width, height = panel.Height;
    FillRgb(dc, left, top, width, height, ResolveColor(panel.Color));
    const controls::Rgb light = ResolveColor(panel.BevelRaised ? clBtnHighlight : clBtnShadow);
    const controls::Rgb dark = ResolveColor(panel.BevelRaised ? clBtnShadow : clBtnHighlight);
    FillRgb(dc, left, top, width, 1, light);
    FillRgb(dc, left, top, 1, height, light);
    FillRgb(dc, left, top + height - 1, width, 1, dark);
    FillRgb(dc, left + width - 1, top, 1, height, dark);
  }

  void DrawLabel(HDC dc, const THTMLabel& label, GdiFontSet& fonts) {
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, label.FormLeft(), label.FormTop(), label.FormLeft() + label.Width,
                      label.FormTop() + label.Height);
    if (!label.Transparent) FillRgb(dc, label.FormLeft(), label.FormTop(), label.Width, label.Height, ResolveColor(label.Color));
    GdiText painter(dc, fonts);
    label.Text().Paint(painter, label.FormLeft(), label.FormTop(),
                       controls::TextColours{ResolveColor(label.Font.Color), ResolveColor(label.URLColor), true});
    RestoreDC(dc, saved);
  }

  void ButtonClicked(int id) {
    const int index = id - kFirstControlId;
    if (index < 0 || index >= static_cast<int>(mButtons.size())) return;
    TButton* button = mButtons[static_cast<std::size_t>(index)];
    Application->DeliverEvent([button] { button->Click(); });
  }

  // The topmost label with a link at the point opens it.
  void MouseDown(int x, int y) {
    for (auto drawn = mScene.rbegin(); drawn != mScene.rend(); ++drawn) {
      if (drawn->Label != nullptr && drawn->Label->LinkAt(x, y)) {
        drawn->Label->MouseDown(x, y, controls::SystemLinkOpener());
        return;
      }
    }
  }

  bool LinkUnderCursor() const {
    POINT at{};
    GetCursorPos(&at);
    ScreenToClient(mHandle, &at);
    return std::any_of(mScene.begin(), mScene.end(),
                       [&at](const Drawn& drawn) { return drawn.Label != nullptr && drawn.Label->LinkAt(at.x, at.y); });
  }

  void AddTabStop(int order, HWND handle) {
    if (order >= 0) mTabStops.emplace_back(order, handle);
  }

  // Keyboard navigation follows the children's z-order: put them in tab order.
  void ArrangeTabOrder() {
    mArranged = true;
    std::stable_sort(mTabStops.begin(), mTabStops.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& stop : mTabStops) {
      SetWindowPos(stop.second, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }

  // The focus returns to where it was, or goes to the first tab stop.
  void Activate(bool active) {
    if (!active) {
      HWND focus = GetFocus();
      if (focus != nullptr && IsChild(mHandle, focus)) mLastFocus = focus;
      return;
    }
    HWND target = mLastFocus != nullptr ? mLastFocus : (mTabStops.empty() ? nullptr : mTabStops.front().second);
    if (target != nullptr) SetFocus(target);
  }

  TForm& mForm;
  HWND mHandle = nullptr;
  GdiFontSet mFormFont;
  std::vector<Drawn> mScene;  // drawn controls in their order
  std::vector<std::unique_ptr<CheckBoxWindow>> mCheckBoxes;
  std::vector<TButton*> mButtons;  // by control id
  std::vector<std::pair<int, HWND>> mTabStops;
  bool mArranged = false;
  HWND mLastFocus = nullptr;
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

    WNDCLASSEXW checkBoxClass = {};
    checkBoxClass.cbSize = sizeof checkBoxClass;
    checkBoxClass.lpfnWndProc = &Win32Window::CheckBoxProcedure;
    checkBoxClass.hInstance = GetModuleHandleW(nullptr);
    checkBoxClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    checkBoxClass.lpszClassName = kCheckBoxClass;
    RegisterClassExW(&checkBoxClass);

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
