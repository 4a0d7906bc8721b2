// The rich-text check box on Win32: a child window drawn over the form's
// drawing (only the classic box shows), toggled by a click or Space.
#pragma once

#include <windows.h>

#include "framework/controls.h"

namespace framework {

// What lies behind a transparent child window: the form draws a rectangle of
// its client area, the form's point (originX, originY) at the context's top
// left. Main thread.
class Backdrop {
 public:
  virtual void Render(HDC dc, int originX, int originY, int width, int height) = 0;

 protected:
  ~Backdrop() = default;
};

class CheckBoxWindow {
 public:
  // Makes the child window on parent; throws Exception when it cannot be
  // made. The backdrop and the box outlive this object.
  CheckBoxWindow(Backdrop& backdrop, THTMLCheckBox& box, HWND parent);
  CheckBoxWindow(const CheckBoxWindow&) = delete;
  CheckBoxWindow& operator=(const CheckBoxWindow&) = delete;

  HWND Handle() const { return mHandle; }
  // Moves the window to the box's place and size (after the form's dpi changed).
  void Place();
  // Stops the window's messages from reaching this object; called before the
  // parent window is destroyed.
  void Detach();

  // The window procedure of the check box class.
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Paint(HDC dc);
  void Toggle();

  Backdrop& mBackdrop;
  THTMLCheckBox& mBox;
  HWND mHandle = nullptr;
  bool mPressed = false;
};

}  // namespace framework
