// The FLTK widgets of a form's push button, panel, picture and rich-text
// label. Each draws its control as the control's properties say; the control
// outlives its widget. Main thread.
#pragma once

#include <FL/Fl_Button.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Widget.H>

#include <memory>

#include "framework/controls.h"

namespace framework {

// The push button: Space (FLTK's own) and Enter press it while it has the
// keyboard focus.
class PushButtonWidget final : public Fl_Button {
 public:
  PushButtonWidget(int x, int y, int w, int h) : Fl_Button(x, y, w, h) {}
  int handle(int event) override;
};

// The panel: its colour and a one-pixel bevel.
class PanelWidget final : public Fl_Widget {
 public:
  explicit PanelWidget(TPanel& panel);
  void draw() override;

 private:
  TPanel& mPanel;
};

// The picture, clipped to the control.
class ImageWidget final : public Fl_Widget {
 public:
  explicit ImageWidget(TImage& image);
  void draw() override;

 private:
  TImage& mImage;
  std::unique_ptr<Fl_RGB_Image> mRgb;  // over the picture's pixels; none for an empty picture
};

// A rich-text label drawn without a background; a press on a link opens it.
class LabelWidget final : public Fl_Widget {
 public:
  explicit LabelWidget(THTMLabel& label);
  void draw() override;
  int handle(int event) override;

 private:
  THTMLabel& mLabel;
};

}  // namespace framework
