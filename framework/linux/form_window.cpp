// A form's FLTK window: its look and place from the form's properties, a
// widget per control, and the close box.
#include "framework/linux/form_window.h"

#include <FL/Fl.H>

#include "framework/linux/check_box_widget.h"
#include "framework/linux/control_widgets.h"
#include "framework/linux/widget_support.h"
#include "framework/linux/xft_text.h"
#include "platform/text.h"

namespace framework {

FltkWindow::FltkWindow(TForm& form)
    : mForm(form),
      mCaption(platform::WideToUtf8(form.Properties().Caption)),
      mWindow(form.Properties().ClientWidth, form.Properties().ClientHeight, mCaption.c_str()) {
  const FormProperties& p = form.Properties();
  mWindow.end();
  mWindow.color(FltkColour(ResolveColor(p.Color)));
  if (p.BorderStyle == TFormBorderStyle::bsSingle) {
    mWindow.size_range(p.ClientWidth, p.ClientHeight, p.ClientWidth, p.ClientHeight);
  }
  if (p.Position == TPosition::poDesktopCenter) {
    int x = 0, y = 0, w = 0, h = 0;
    Fl::screen_xywh(x, y, w, h);
    mWindow.position(x + (w - p.ClientWidth) / 2, y + (h - p.ClientHeight) / 2);
  }
  mWindow.callback(&FltkWindow::CloseBox, this);
}

void FltkWindow::AddButton(TButton& button) {
  auto* widget = Add(std::make_unique<PushButtonWidget>(button.FormLeft(), button.FormTop(), button.Width, button.Height));
  widget->copy_label(platform::WideToUtf8(button.Caption).c_str());
  const TFont& font = mForm.Properties().Font;
  widget->labelfont(FontFor(font.Name, font.Bold, font.Italic));
  widget->labelsize(font.Height);
  widget->labelcolor(FltkColour(ResolveColor(font.Color)));
  widget->color(FltkColour(ResolveColor(clBtnFace)));
  widget->callback(
      [](Fl_Widget*, void* data) {
        auto* target = static_cast<TButton*>(data);
        Application->DeliverEvent([target] { target->Click(); });
      },
      &button);
  if (button.TabOrder >= 0) mWindow.AddTabStop(button.TabOrder, widget);
}

void FltkWindow::AddPanel(TPanel& panel) { Add(std::make_unique<PanelWidget>(panel)); }

void FltkWindow::AddImage(TImage& image) { Add(std::make_unique<ImageWidget>(image)); }

void FltkWindow::AddLabel(THTMLabel& label) {
  XftMeasurer measurer(label.Font);
  label.Relayout(measurer);
  Add(std::make_unique<LabelWidget>(label));
}

void FltkWindow::AddCheckBox(THTMLCheckBox& box) {
  auto* widget = Add(std::make_unique<CheckBoxWidget>(box));
  if (box.TabOrder >= 0) mWindow.AddTabStop(box.TabOrder, widget);
}

void FltkWindow::SetVisible(bool visible) {
  if (visible) {
    mWindow.show();
    mWindow.FocusFirst();
  } else {
    mWindow.hide();
  }
}

// The window's callback: the close box, and also an Escape that nothing
// handled, which the dialog ignores.
void FltkWindow::CloseBox(Fl_Widget*, void* data) {
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  auto* self = static_cast<FltkWindow*>(data);
  Application->DeliverEvent([self] { self->mForm.Close(); });
}

}  // namespace framework
