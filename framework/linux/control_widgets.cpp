// Drawing and input of the FLTK push button, panel, picture and label widgets.
#include "framework/linux/control_widgets.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>

#include "controls/link_activation.h"
#include "framework/linux/widget_support.h"
#include "framework/linux/xft_text.h"

namespace framework {

int PushButtonWidget::handle(int event) {
  if (event == FL_KEYBOARD && Fl::focus() == this && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
    do_callback();
    return 1;
  }
  return Fl_Button::handle(event);
}

PanelWidget::PanelWidget(TPanel& panel)
    : Fl_Widget(panel.FormLeft(), panel.FormTop(), panel.Width, panel.Height), mPanel(panel) {}

void PanelWidget::draw() {
  SetColour(ResolveColor(mPanel.Color));
  fl_rectf(x(), y(), w(), h());
  const controls::Rgb light = ResolveColor(mPanel.BevelRaised ? clBtnHighlight : clBtnShadow);
  const controls::Rgb dark = ResolveColor(mPanel.BevelRaised ? clBtnShadow : clBtnHighlight);
  SetColour(light);
  fl_xyline(x(), y(), x() + w() - 1);
  fl_yxline(x(), y(), y() + h() - 1);
  SetColour(dark);
  fl_xyline(x(), y() + h() - 1, x() + w() - 1);
  fl_yxline(x() + w() - 1, y(), y() + h() - 1);
}

ImageWidget::ImageWidget(TImage& image)
    : Fl_Widget(image.FormLeft(), image.FormTop(), image.Width, image.Height), mImage(image) {
  if (!image.Picture.Empty()) {
    mRgb = std::make_unique<Fl_RGB_Image>(image.Picture.Rgb.data(), image.Picture.Width, image.Picture.Height, 3);
  }
}

void ImageWidget::draw() {
  if (mRgb) mRgb->draw(x(), y(), std::min(w(), mImage.Picture.Width), std::min(h(), mImage.Picture.Height));
}

LabelWidget::LabelWidget(THTMLabel& label)
    : Fl_Widget(label.FormLeft(), label.FormTop(), label.Width, label.Height), mLabel(label) {}

void LabelWidget::draw() {
  fl_push_clip(x(), y(), w(), h());
  if (!mLabel.Transparent) {
    SetColour(ResolveColor(mLabel.Color));
    fl_rectf(x(), y(), w(), h());
  }
  XftPainter painter(mLabel.Font);
  mLabel.Text().Paint(painter, x(), y(),
                      controls::TextColours{ResolveColor(mLabel.Font.Color), ResolveColor(mLabel.URLColor), true});
  fl_pop_clip();
}

int LabelWidget::handle(int event) {
  switch (event) {
    case FL_PUSH:
      return mLabel.MouseDown(Fl::event_x(), Fl::event_y()) ? 1 : 0;
    case FL_ENTER:
    case FL_MOVE:
      if (window() != nullptr) {
        window()->cursor(mLabel.LinkAt(Fl::event_x(), Fl::event_y()) ? FL_CURSOR_HAND : FL_CURSOR_DEFAULT);
      }
      return 1;
    case FL_LEAVE:
      if (window() != nullptr) window()->cursor(FL_CURSOR_DEFAULT);
      return 1;
    default:
      return 0;
  }
}

}  // namespace framework
