// Drawing and input of the FLTK check box widget.
#include "framework/linux/check_box_widget.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include "framework/check_box_look.h"
#include "framework/forms.h"
#include "framework/linux/widget_support.h"
#include "framework/linux/xft_text.h"

namespace framework {

CheckBoxWidget::CheckBoxWidget(THTMLCheckBox& box)
    : Fl_Widget(box.FormLeft(), box.FormTop(), box.Width, box.Height), mBox(box) {
  clear_visible_focus();
}

void CheckBoxWidget::draw() {
  fl_push_clip(x(), y(), w(), h());
  if (!mBox.Transparent) {
    SetColour(ResolveColor(mBox.Color));
    fl_rectf(x(), y(), w(), h());
  }
  PaintClassicCheckBox(
      x(), y() + (h() - CheckBoxSize(mBox.Dpi())) / 2, mBox.Checked, ResolveColor(mBox.CheckColor), ClassicPalette{},
      [](int left, int top, int width, int height, controls::Rgb colour) {
        SetColour(colour);
        fl_rectf(left, top, width, height);
      },
      mBox.Dpi());
  fl_pop_clip();
}

int CheckBoxWidget::handle(int event) {
  switch (event) {
    case FL_PUSH:
      if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
      GiveFocus(this);
      return 1;
    case FL_DRAG:
      return 1;
    case FL_RELEASE:
      if (Fl::event_inside(this)) Toggle();
      return 1;
    case FL_FOCUS:
    case FL_UNFOCUS:
      return 1;
    case FL_KEYBOARD:
      if (Fl::event_key() != ' ') return 0;
      Toggle();
      return 1;
    default:
      return 0;
  }
}

void CheckBoxWidget::Toggle() {
  THTMLCheckBox* box = &mBox;
  Application->DeliverEvent([box] { box->Toggle(); });
  if (window() != nullptr) window()->redraw();  // the picture shows through around the box
}

}  // namespace framework
