// The FLTK widget of a form's rich-text check box: only the classic box is
// drawn (the control is too narrow for its caption); a click or Space
// toggles it. Main thread; the check box outlives its widget.
#pragma once

#include <FL/Fl_Widget.H>

#include "framework/controls.h"

namespace framework {

class CheckBoxWidget final : public Fl_Widget {
 public:
  // Draws no focus box of FLTK's own.
  explicit CheckBoxWidget(THTMLCheckBox& box);
  void draw() override;
  int handle(int event) override;

 private:
  void Toggle();

  THTMLCheckBox& mBox;
};

}  // namespace framework
