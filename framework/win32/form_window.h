// The window of a form on Win32: a top-level window whose panels, picture
// and labels are drawn with GDI (buffered), with a real BUTTON per push
// button and a child window per check box; keyboard focus in tab order; laid
// out anew when the dpi of its monitor changes.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "framework/backend.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/win32/check_box_window.h"
#include "framework/win32/gdi_text.h"

namespace framework {

class DibPicture;

// Made, used and destroyed on the main thread; the form and its controls
// outlive it.
class Win32Window final : public FormWindow, public Backdrop {
 public:
  explicit Win32Window(TForm& form);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  void AddButton(TButton& button) override;
  void AddPanel(TPanel& panel) override;
  void AddImage(TImage& image) override;
  void AddLabel(THTMLabel& label) override;
  void AddCheckBox(THTMLCheckBox& box) override;
  void SetVisible(bool visible) override;

  // Draws every drawn control (panels, pictures, labels) in their order.
  void Render(HDC dc, int originX, int originY, int width, int height) override;

  // The window procedure of the form class.
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  struct Drawn {
    TControl* Control;
    THTMLabel* Label;
    TImage* Image;
    std::unique_ptr<GdiFontSet> Fonts;
    std::unique_ptr<DibPicture> Picture;
  };

  void DrawPanel(HDC dc, const TPanel& panel);
  void DrawLabel(HDC dc, const THTMLabel& label, GdiFontSet& fonts);
  void ButtonClicked(int id);
  // The window's monitor changed its dpi: the form is scaled to it, every
  // control laid out again and the window put at the suggested rectangle.
  void ChangeDpi(int dpi, const RECT& suggested);
  void LayOutLabel(Drawn& drawn);
  void MouseDown(int x, int y);
  bool LinkUnderCursor() const;
  void AddTabStop(int order, HWND handle);
  void ArrangeTabOrder();
  // Ends the system's tracking of the pointer over this window or one of its
  // controls, as the pointer's leaving would; nothing when none is tracked.
  void EndPointerTracking();
  void Activate(bool active);

  TForm& mForm;
  HWND mHandle = nullptr;
  std::unique_ptr<GdiFontSet> mFormFont;
  std::vector<Drawn> mScene;  // drawn controls in their order
  std::vector<std::unique_ptr<CheckBoxWindow>> mCheckBoxes;
  std::vector<TButton*> mButtons;  // by control id
  std::vector<HWND> mButtonHandles;  // by control id
  std::vector<std::pair<int, HWND>> mTabStops;
  bool mArranged = false;
  HWND mLastFocus = nullptr;
};

}  // namespace framework
