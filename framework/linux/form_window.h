// The window of a form on Linux: a top-level FLTK window with one widget per
// control, placed at the control's pixel position, and keyboard focus in tab
// order.
#pragma once

#include <memory>
#include <string>

#include "framework/backend.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/linux/form_widget.h"

namespace framework {

// Made, used and destroyed on the main thread with the display open; the form
// and its controls outlive it.
class FltkWindow final : public FormWindow {
 public:
  explicit FltkWindow(TForm& form);
  FltkWindow(const FltkWindow&) = delete;
  FltkWindow& operator=(const FltkWindow&) = delete;

  void AddButton(TButton& button) override;
  void AddPanel(TPanel& panel) override;
  void AddImage(TImage& image) override;
  void AddLabel(THTMLabel& label) override;
  void AddCheckBox(THTMLCheckBox& box) override;
  void SetVisible(bool visible) override;

 private:
  // Hands the widget to the window, which deletes it; returns it.
  template <class Widget>
  Widget* Add(std::unique_ptr<Widget> widget) {
    mWindow.add(widget.get());
    return widget.release();
  }

  static void CloseBox(Fl_Widget*, void* data);

  TForm& mForm;
  std::string mCaption;  // the window's caption in UTF-8, which the window does not copy
  FormWidget mWindow;
};

}  // namespace framework
