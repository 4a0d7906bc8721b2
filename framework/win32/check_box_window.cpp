// The rich-text check box's child window on Win32.
#include "framework/win32/check_box_window.h"

#include "framework/check_box_look.h"
#include "framework/exception.h"
#include "framework/forms.h"
#include "framework/win32/gdi_scoped.h"
#include "framework/win32/gdi_text.h"
#include "framework/win32/window_support.h"

namespace framework {

CheckBoxWindow::CheckBoxWindow(Backdrop& backdrop, THTMLCheckBox& box, HWND parent)
    : mBackdrop(backdrop), mBox(box) {
  mHandle = CreateWindowExW(0, kCheckBoxClass, Wide(box.Caption), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                            box.FormLeft(), box.FormTop(), box.Width, box.Height, parent, nullptr,
                            GetModuleHandleW(nullptr), this);
  if (mHandle == nullptr) throw Exception(u"The check box could not be created.");
}

void CheckBoxWindow::Place() {
  MoveWindow(mHandle, mBox.FormLeft(), mBox.FormTop(), mBox.Width, mBox.Height, TRUE);
}

void CheckBoxWindow::Detach() { SetWindowLongPtrW(mHandle, GWLP_USERDATA, 0); }

void CheckBoxWindow::Toggle() {
  THTMLCheckBox* control = &mBox;
  Application->DeliverEvent([control] { control->Toggle(); });
  InvalidateRect(mHandle, nullptr, FALSE);
}

void CheckBoxWindow::Paint(HDC dc) {
  BufferedPaint buffer(dc, mBox.Width, mBox.Height);
  if (mBox.Transparent) {
    mBackdrop.Render(buffer.Dc(), mBox.FormLeft(), mBox.FormTop(), mBox.Width, mBox.Height);
  } else {
    FillRgb(buffer.Dc(), 0, 0, mBox.Width, mBox.Height, ResolveColor(mBox.Color));
  }
  ClassicPalette palette;
  palette.Shadow = ResolveColor(kSystemColor | COLOR_3DSHADOW);
  palette.DarkShadow = ResolveColor(kSystemColor | COLOR_3DDKSHADOW);
  palette.Highlight = ResolveColor(kSystemColor | COLOR_3DHILIGHT);
  palette.Light = ResolveColor(kSystemColor | COLOR_3DLIGHT);
  palette.Field = ResolveColor(kSystemColor | COLOR_WINDOW);
  HDC target = buffer.Dc();
  PaintClassicCheckBox(0, (mBox.Height - CheckBoxSize(mBox.Dpi())) / 2, mBox.Checked, ResolveColor(mBox.CheckColor),
                       palette,
                       [target](int left, int top, int width, int height, controls::Rgb colour) {
                         FillRgb(target, left, top, width, height, colour);
                       },
                       mBox.Dpi());
}

LRESULT CALLBACK CheckBoxWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = WindowOwner<CheckBoxWindow>(hwnd, message, lParam);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_BUTTON;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      ScopedPaint paint(hwnd);
      self->Paint(paint.Get());
      return 0;
    }
    case WM_PRINTCLIENT:
      self->Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(hwnd);
      SetCapture(hwnd);
      self->mPressed = true;
      return 0;
    case WM_LBUTTONUP: {
      if (!self->mPressed) return 0;
      self->mPressed = false;
      ReleaseCapture();
      RECT area{};
      GetClientRect(hwnd, &area);
      const POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (PtInRect(&area, at)) self->Toggle();
      return 0;
    }
    case WM_CAPTURECHANGED:
      self->mPressed = false;
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE && (lParam & (1 << 30)) == 0) self->Toggle();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace framework
