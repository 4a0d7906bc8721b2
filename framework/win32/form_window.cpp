// The window of a form on Win32: creation, drawing, mouse, focus and buttons.
#include "framework/win32/form_window.h"

#include <algorithm>
#include <cstdint>

#include "controls/link_activation.h"
#include "framework/exception.h"
#include "framework/win32/display_dpi.h"
#include "framework/win32/gdi_scoped.h"
#include "framework/win32/window_support.h"

namespace framework {

namespace {
constexpr int kFirstControlId = 100;
}  // namespace

// A picture as a top-down 32-bit DIB, ready for SetDIBitsToDevice.
class DibPicture {
 public:
  explicit DibPicture(const TBitmap& picture) : mWidth(picture.Width), mHeight(picture.Height) {
    const std::size_t count = static_cast<std::size_t>(mWidth) * static_cast<std::size_t>(mHeight);
    mPixels.resize(count);
    const std::uint8_t* rgb = picture.Rgb.data();
    for (std::size_t i = 0; i < count; ++i, rgb += 3) {
      mPixels[i] = (std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2];
    }
  }

  void Draw(HDC dc, int left, int top, int width, int height) const {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = mWidth;
    info.bmiHeader.biHeight = -mHeight;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const int shownWidth = std::min(width, mWidth);
    const int shownHeight = std::min(height, mHeight);
    if (shownWidth <= 0 || shownHeight <= 0) return;
    SetDIBitsToDevice(dc, left, top, static_cast<DWORD>(shownWidth), static_cast<DWORD>(shownHeight), 0,
                      static_cast<UINT>(mHeight - shownHeight), 0, static_cast<UINT>(mHeight), mPixels.data(), &info,
                      DIB_RGB_COLORS);
  }

 private:
  int mWidth;
  int mHeight;
  std::vector<std::uint32_t> mPixels;  // 0x00RRGGBB is BGRA in memory
};

Win32Window::Win32Window(TForm& form)
    : mForm(form), mFormFont(std::make_unique<GdiFontSet>(form.Properties().Font)) {
  const FormProperties& p = form.Properties();
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  if (p.MinimizeBox) style |= WS_MINIMIZEBOX;
  if (p.MaximizeBox) style |= WS_MAXIMIZEBOX;
  if (p.BorderStyle == TFormBorderStyle::bsSizeable) style |= WS_THICKFRAME;
  const DWORD exStyle = (Application->MainFormOnTaskBar ? WS_EX_APPWINDOW : 0) | WS_EX_CONTROLPARENT;
  RECT frame = {0, 0, p.ClientWidth, p.ClientHeight};
  AdjustWindowRectForDpi(frame, style, exStyle, form.Dpi());
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
  if (p.Position == TPosition::poDesktopCenter) {
    x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  }
  mHandle = CreateWindowExW(exStyle, kFormClass, Wide(p.Caption), style, x, y, width, height, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
  if (mHandle == nullptr) throw Exception(u"The window could not be created.");
  FormHandles().insert(mHandle);
}

Win32Window::~Win32Window() {
  if (mHandle != nullptr) {
    FormHandles().erase(mHandle);
    SetWindowLongPtrW(mHandle, GWLP_USERDATA, 0);
    for (auto& box : mCheckBoxes) box->Detach();
    DestroyWindow(mHandle);
  }
}

void Win32Window::AddButton(TButton& button) {
  const int id = kFirstControlId + static_cast<int>(mButtons.size());
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (button.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
  HWND handle = CreateWindowExW(0, L"BUTTON", Wide(button.Caption), style, button.FormLeft(), button.FormTop(),
                                button.Width, button.Height, mHandle,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                nullptr);
  if (handle == nullptr) throw Exception(u"The button could not be created.");
  SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(mFormFont->Get({})), FALSE);
  mButtons.push_back(&button);
  mButtonHandles.push_back(handle);
  AddTabStop(button.TabOrder, handle);
}

void Win32Window::AddPanel(TPanel& panel) { mScene.push_back(Drawn{&panel, nullptr, nullptr, nullptr, nullptr}); }

void Win32Window::AddImage(TImage& image) {
  auto picture = image.Picture.Empty() ? nullptr : std::make_unique<DibPicture>(image.Picture);
  mScene.push_back(Drawn{&image, nullptr, &image, nullptr, std::move(picture)});
}

void Win32Window::AddLabel(THTMLabel& label) {
  mScene.push_back(Drawn{&label, &label, nullptr, nullptr, nullptr});
  LayOutLabel(mScene.back());
}

// The label's fonts at its font's current height, and its text laid out with them.
void Win32Window::LayOutLabel(Drawn& drawn) {
  drawn.Fonts = std::make_unique<GdiFontSet>(drawn.Label->Font);
  const ScopedGetDC screen(mHandle);
  GdiText measurer(screen.Get(), *drawn.Fonts);
  drawn.Label->Relayout(measurer);
}

void Win32Window::ChangeDpi(int dpi, const RECT& suggested) {
  mForm.ScaleTo(dpi);
  // The buttons hold the old fonts until they are given the new ones.
  const std::unique_ptr<GdiFontSet> previousFont = std::exchange(mFormFont, std::make_unique<GdiFontSet>(mForm.Properties().Font));
  for (std::size_t i = 0; i < mButtons.size(); ++i) {
    const TButton& button = *mButtons[i];
    MoveWindow(mButtonHandles[i], button.FormLeft(), button.FormTop(), button.Width, button.Height, FALSE);
    SendMessageW(mButtonHandles[i], WM_SETFONT, reinterpret_cast<WPARAM>(mFormFont->Get({})), FALSE);
  }
  for (auto& box : mCheckBoxes) box->Place();
  for (Drawn& drawn : mScene) {
    if (drawn.Label != nullptr) LayOutLabel(drawn);
    if (drawn.Image != nullptr) {
      drawn.Picture = drawn.Image->Picture.Empty() ? nullptr : std::make_unique<DibPicture>(drawn.Image->Picture);
    }
  }
  SetWindowPos(mHandle, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  RedrawWindow(mHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32Window::AddCheckBox(THTMLCheckBox& box) {
  auto window = std::make_unique<CheckBoxWindow>(*this, box, mHandle);
  AddTabStop(box.TabOrder, window->Handle());
  mCheckBoxes.push_back(std::move(window));
}

void Win32Window::SetVisible(bool visible) {
  if (visible && !mArranged) ArrangeTabOrder();
  ShowWindow(mHandle, visible ? SW_SHOW : SW_HIDE);
  if (visible) {
    UpdateWindow(mHandle);
  } else {
    // A hidden window lies under no pointer. A button that tracks the
    // pointer for its hot look would otherwise keep its tracking while the
    // dialog stays hidden, and Wine polls the pointer for it every few
    // milliseconds.
    EndPointerTracking();
  }
}

void Win32Window::EndPointerTracking() {
  TRACKMOUSEEVENT tracking{};
  tracking.cbSize = sizeof tracking;
  tracking.dwFlags = TME_QUERY;
  if (!TrackMouseEvent(&tracking) || tracking.hwndTrack == nullptr) return;
  const HWND tracked = tracking.hwndTrack;
  if (tracked != mHandle && !IsChild(mHandle, tracked)) return;
  const DWORD flags = tracking.dwFlags & (TME_HOVER | TME_LEAVE | TME_NONCLIENT);
  if ((flags & (TME_HOVER | TME_LEAVE)) == 0) return;
  tracking.dwFlags = flags | TME_CANCEL;
  TrackMouseEvent(&tracking);
  // The window hears that the pointer has left, as it would from the system.
  if ((flags & TME_LEAVE) != 0) PostMessageW(tracked, (flags & TME_NONCLIENT) != 0 ? WM_NCMOUSELEAVE : WM_MOUSELEAVE, 0, 0);
}

void Win32Window::Render(HDC dc, int originX, int originY, int width, int height) {
  // The form's (originX, originY) goes where the context's origin is now: a
  // themed button asking for what lies behind it has moved that origin to
  // the button's place on the form.
  POINT previous{};
  OffsetViewportOrgEx(dc, -originX, -originY, &previous);
  RECT area = {originX, originY, originX + width, originY + height};
  RECT clip{};
  if (GetClipBox(dc, &clip) != ERROR) IntersectRect(&area, &area, &clip);
  FillRgb(dc, originX, originY, width, height, ResolveColor(mForm.Properties().Color));
  for (const Drawn& drawn : mScene) {
    const TControl& c = *drawn.Control;
    // Every control draws inside its own box: one that lies wholly outside
    // the area is left out (a check box's or a button's backdrop is a small
    // part of the form).
    const RECT box = {c.FormLeft(), c.FormTop(), c.FormLeft() + c.Width, c.FormTop() + c.Height};
    RECT common{};
    if (!IntersectRect(&common, &box, &area)) continue;
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

LRESULT CALLBACK Win32Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = WindowOwner<Win32Window>(hwnd, message, lParam);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_CLOSE:
      // The close box, or a close request of another program; the form may refuse.
      Application->DeliverEvent([self] { self->mForm.Close(); });
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) self->ButtonClicked(static_cast<int>(LOWORD(wParam)));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers everything
    case WM_PAINT: {
      const ScopedPaint paint(hwnd);
      RECT client{};
      GetClientRect(hwnd, &client);
      BufferedPaint buffer(paint.Get(), client.right, client.bottom);
      self->Render(buffer.Dc(), 0, 0, client.right, client.bottom);
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
    case kDpiChangedMessage:
      if (lParam != 0) self->ChangeDpi(static_cast<int>(HIWORD(wParam)), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32Window::DrawPanel(HDC dc, const TPanel& panel) {
  const int left = panel.FormLeft(), top = panel.FormTop(), width = panel.Width, height = panel.Height;
  FillRgb(dc, left, top, width, height, ResolveColor(panel.Color));
  const controls::Rgb light = ResolveColor(panel.BevelRaised ? clBtnHighlight : clBtnShadow);
  const controls::Rgb dark = ResolveColor(panel.BevelRaised ? clBtnShadow : clBtnHighlight);
  FillRgb(dc, left, top, width, 1, light);
  FillRgb(dc, left, top, 1, height, light);
  FillRgb(dc, left, top + height - 1, width, 1, dark);
  FillRgb(dc, left + width - 1, top, 1, height, dark);
}

void Win32Window::DrawLabel(HDC dc, const THTMLabel& label, GdiFontSet& fonts) {
  const ScopedSaveDC saved(dc);
  IntersectClipRect(dc, label.FormLeft(), label.FormTop(), label.FormLeft() + label.Width,
                    label.FormTop() + label.Height);
  if (!label.Transparent) {
    FillRgb(dc, label.FormLeft(), label.FormTop(), label.Width, label.Height, ResolveColor(label.Color));
  }
  GdiText painter(dc, fonts);
  label.Text().Paint(painter, label.FormLeft(), label.FormTop(),
                     controls::TextColours{ResolveColor(label.Font.Color), ResolveColor(label.URLColor), true});
}

void Win32Window::ButtonClicked(int id) {
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(mButtons.size())) return;  // IDOK, IDCANCEL: the dialog has neither
  TButton* button = mButtons[static_cast<std::size_t>(index)];
  Application->DeliverEvent([button] { button->Click(); });
}

// The topmost label with a link at the point opens it.
void Win32Window::MouseDown(int x, int y) {
  for (auto drawn = mScene.rbegin(); drawn != mScene.rend(); ++drawn) {
    if (drawn->Label != nullptr && drawn->Label->LinkAt(x, y)) {
      drawn->Label->MouseDown(x, y);
      return;
    }
  }
}

bool Win32Window::LinkUnderCursor() const {
  POINT at{};
  GetCursorPos(&at);
  ScreenToClient(mHandle, &at);
  return std::any_of(mScene.begin(), mScene.end(),
                     [&at](const Drawn& drawn) { return drawn.Label != nullptr && drawn.Label->LinkAt(at.x, at.y); });
}

void Win32Window::AddTabStop(int order, HWND handle) {
  if (order >= 0) mTabStops.emplace_back(order, handle);
}

// Keyboard navigation follows the children's z-order: put them in tab order.
void Win32Window::ArrangeTabOrder() {
  mArranged = true;
  std::stable_sort(mTabStops.begin(), mTabStops.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& stop : mTabStops) {
    SetWindowPos(stop.second, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

// The focus returns to where it was, or goes to the first tab stop.
void Win32Window::Activate(bool active) {
  if (!active) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(mHandle, focus)) mLastFocus = focus;
    return;
  }
  HWND target = mLastFocus != nullptr ? mLastFocus : (mTabStops.empty() ? nullptr : mTabStops.front().second);
  if (target != nullptr) SetFocus(target);
}

}  // namespace framework
