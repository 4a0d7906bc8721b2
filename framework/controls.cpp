// The framework's control classes: double dispatch to the form's window,
// scaling to a display's dpi, the picture's decoding and the rich-text
// label's layout and mouse presses.
#include "framework/controls.h"

#include "framework/backend.h"

void TPanel::AttachTo(framework::FormWindow& window) { window.AddPanel(*this); }
void TImage::AttachTo(framework::FormWindow& window) { window.AddImage(*this); }
void THTMLabel::AttachTo(framework::FormWindow& window) { window.AddLabel(*this); }
void THTMLCheckBox::AttachTo(framework::FormWindow& window) { window.AddCheckBox(*this); }
void TButton::AttachTo(framework::FormWindow& window) { window.AddButton(*this); }

void TControl::ScaleTo(int dpi) {
  if (!mStored) {
    mPlace = StoredPlace{Left, Top, Width, Height};
    mStored = true;
  }
  mDpi = dpi;
  Left = framework::ScaleFromDesign(mPlace.Left, dpi);
  Top = framework::ScaleFromDesign(mPlace.Top, dpi);
  Width = framework::ScaleFromDesign(mPlace.Width, dpi);
  Height = framework::ScaleFromDesign(mPlace.Height, dpi);
}

TFont ScaledFont(const TFont& stored, int dpi) {
  TFont scaled = stored;
  scaled.Height = framework::ScaleFromDesign(stored.Height, dpi);
  return scaled;
}

bool TImage::LoadJpeg(const unsigned char* data, std::size_t size) {
  mJpeg.assign(data, data + (data != nullptr ? size : 0));
  return Decode();
}

bool TImage::Decode() {
  const bool decoded = DecodeJpegAtDpi(mJpeg.data(), mJpeg.size(), Dpi(), Picture);
  mDecodedDpi = Dpi();
  if (decoded && AutoSize) {
    Width = Picture.Width;
    Height = Picture.Height;
  }
  return decoded;
}

void TImage::ScaleTo(int dpi) {
  TControl::ScaleTo(dpi);
  if (!mJpeg.empty() && dpi != mDecodedDpi) Decode();
}

void THTMLabel::ScaleTo(int dpi) {
  TControl::ScaleTo(dpi);
  if (!mFontStored) {
    mStoredFont = Font;
    mFontStored = true;
  }
  Font = ScaledFont(mStoredFont, dpi);
  mWrapWidth = -1;
}

void THTMLCheckBox::ScaleTo(int dpi) {
  TControl::ScaleTo(dpi);
  if (!mFontStored) {
    mStoredFont = Font;
    mFontStored = true;
  }
  Font = ScaledFont(mStoredFont, dpi);
}

void THTMLabel::Relayout(controls::TextMeasurer& measurer) {
  if (mWrapWidth < 0) mWrapWidth = Width;
  mText.Relayout(measurer, controls::LayoutOptions{WordWrap, mWrapWidth});
  if (AutoSizing) {
    Width = mText.Layout().Width;
    Height = mText.Layout().Height;
  }
}

bool THTMLabel::MouseDown(int x, int y) const {
  if (!Contains(x, y)) return false;
  return mText.MouseDown(x - FormLeft(), y - FormTop());
}

bool THTMLabel::LinkAt(int x, int y) const {
  return Contains(x, y) && mText.LinkTargetAt(x - FormLeft(), y - FormTop()) != nullptr;
}
