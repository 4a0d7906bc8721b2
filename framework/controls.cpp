// The framework's control classes: double dispatch to the form's window, the
// picture's decoding and the rich-text label's layout and mouse presses.
#include "framework/controls.h"

#include "framework/backend.h"

void TPanel::AttachTo(framework::FormWindow& window) { window.AddPanel(*this); }
void TImage::AttachTo(framework::FormWindow& window) { window.AddImage(*this); }
void THTMLabel::AttachTo(framework::FormWindow& window) { window.AddLabel(*this); }
void THTMLCheckBox::AttachTo(framework::FormWindow& window) { window.AddCheckBox(*this); }
void TButton::AttachTo(framework::FormWindow& window) { window.AddButton(*this); }

bool TImage::LoadJpeg(const unsigned char* data, std::size_t size) {
  const bool decoded = DecodeJpeg(data, size, Picture);
  if (decoded && AutoSize) {
    Width = Picture.Width;
    Height = Picture.Height;
  }
  return decoded;
}

void THTMLabel::Relayout(controls::TextMeasurer& measurer) {
  if (mWrapWidth < 0) mWrapWidth = Width;
  mText.Relayout(measurer, controls::LayoutOptions{WordWrap, mWrapWidth});
  if (AutoSizing) {
    Width = mText.Layout().Width;
    Height = mText.Layout().Height;
  }
}

bool THTMLabel::MouseDown(int x, int y, controls::LinkOpener& opener) const {
  if (!Contains(x, y)) return false;
  return mText.MouseDown(x - FormLeft(), y - FormTop(), opener);
}

bool THTMLabel::LinkAt(int x, int y) const {
  return Contains(x, y) && mText.LinkTargetAt(x - FormLeft(), y - FormTop()) != nullptr;
}
