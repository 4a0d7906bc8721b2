// Controls of a form: their place, fonts and colours, and the control classes
// of the framework (panel, picture, rich-text label and check box, push button).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controls/rich_text.h"
#include "framework/classes.h"
#include "framework/picture.h"
#include "framework/scaling.h"

namespace framework {
class FormWindow;
}

// A colour: 0xRRGGBB, or one of the system's colours (kSystemColor set, the
// low byte names it). Backends resolve system colours with ResolveColor.
using TColor = std::uint32_t;
inline constexpr TColor kSystemColor = 0xFF000000u;
inline constexpr TColor clWindowText = kSystemColor | 8u;
inline constexpr TColor clBtnFace = kSystemColor | 15u;
inline constexpr TColor clBtnShadow = kSystemColor | 16u;
inline constexpr TColor clBtnHighlight = kSystemColor | 20u;
inline constexpr TColor clGreen = 0x008000u;
inline constexpr TColor clBlue = 0x0000FFu;
inline constexpr bool IsSystemColor(TColor color) { return (color & kSystemColor) == kSystemColor; }

// A font as the layout states it: family, character height in pixels (the em
// height, as Windows' negative heights ask for), style and colour.
struct TFont {
  std::u16string Name = u"Tahoma";
  int Height = 11;
  bool Bold = false;
  bool Italic = false;
  TColor Color = clWindowText;

  friend bool operator==(const TFont&, const TFont&) = default;
};

// A control placed on its parent's client area (the form's when Parent is
// null). The form's window makes the control's native counterpart when it is
// first shown, in the order the controls were made.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner) : TComponent(owner) {}

  std::u16string Name;
  TControl* Parent = nullptr;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int TabOrder = -1;  // position in the parent's tab order; -1 when not a tab stop

  // Left and top on the form's client area, through every parent.
  int FormLeft() const { return Left + (Parent != nullptr ? Parent->FormLeft() : 0); }
  int FormTop() const { return Top + (Parent != nullptr ? Parent->FormTop() : 0); }
  // Whether the form's point (x, y) lies on this control.
  bool Contains(int x, int y) const {
    return x >= FormLeft() && y >= FormTop() && x < FormLeft() + Width && y < FormTop() + Height;
  }

  // Lays the control out at dpi from its place as stored at 96 dpi: left,
  // top, width and height each scaled on its own. The first call takes the
  // place the control has then as the stored one. Controls with a font or a
  // picture scale those too. Main thread.
  virtual void ScaleTo(int dpi);
  // The dpi the control is laid out at (96 until it is scaled).
  int Dpi() const { return mDpi; }

  // Lets the window make this control's counterpart (double dispatch).
  virtual void AttachTo(framework::FormWindow& window) = 0;

 private:
  struct StoredPlace {
    int Left, Top, Width, Height;
  };
  bool mStored = false;
  StoredPlace mPlace{};
  int mDpi = framework::kDesignDpi;
};

// A font as stored (at 96 dpi) and the same font at dpi: its pixel height scaled.
TFont ScaledFont(const TFont& stored, int dpi);

// A flat container with a one-pixel bevel.
class TPanel : public TControl {
 public:
  explicit TPanel(TComponent* owner) : TControl(owner) {}

  TColor Color = clBtnFace;
  bool BevelRaised = true;  // light top and left edge, dark bottom and right edge

  void AttachTo(framework::FormWindow& window) override;
};

// A picture drawn at its control's top left, clipped to the control.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* owner) : TControl(owner) {}

  // Decodes a JPEG into Picture at the control's dpi (its own size scaled
  // from 96 dpi); with AutoSize the control takes the picture's size. Input
  // that does not decode leaves an empty picture (and the control's size)
  // and returns false. The bytes are kept for later scaling.
  bool LoadJpeg(const unsigned char* data, std::size_t size);

  bool AutoSize = true;
  TBitmap Picture;

  // Also decodes the picture again at the new dpi.
  void ScaleTo(int dpi) override;
  void AttachTo(framework::FormWindow& window) override;

 private:
  bool Decode();
  std::vector<unsigned char> mJpeg;
  int mDecodedDpi = 0;  // the dpi Picture was decoded at
};

// A label whose caption is rich-text markup (bold, italic, colours, links).
// Drawn without a background of its own when Transparent.
class THTMLabel : public TControl {
 public:
  explicit THTMLabel(TComponent* owner) : TControl(owner) {}

  TFont Font;
  TColor Color = clBtnFace;
  TColor URLColor = clBlue;
  bool Transparent = true;
  bool AutoSizing = true;  // the control takes the size of its laid-out text
  bool WordWrap = true;    // lines break within the stored width

  void SetHTMLText(std::u16string_view markup) { mText.SetMarkup(markup); }
  const std::u16string& HTMLText() const { return mText.Markup(); }

  // Lays the text out with the measurer of the label's font (main thread);
  // with AutoSizing the control takes the text's size. The wrap width is the
  // width the label had when it was first laid out.
  void Relayout(controls::TextMeasurer& measurer);
  const controls::RichText& Text() const { return mText; }

  // A mouse button went down at the form's point (x, y): opens a link there
  // through the link opener in use. True when a link was opened.
  bool MouseDown(int x, int y) const;
  // Whether the form's point (x, y) lies on a link of the text.
  bool LinkAt(int x, int y) const;

  // Also scales the font; the next Relayout wraps at the scaled width.
  void ScaleTo(int dpi) override;
  void AttachTo(framework::FormWindow& window) override;

 private:
  controls::RichText mText;
  int mWrapWidth = -1;
  bool mFontStored = false;
  TFont mStoredFont;
};

enum class TCheckBoxStyle { btClassic };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// A check box whose caption is rich-text markup; the box is drawn at the
// control's left, centred vertically, with the tick in CheckColor.
class THTMLCheckBox : public TControl {
 public:
  explicit THTMLCheckBox(TComponent* owner) : TControl(owner) {}

  std::u16string Caption;
  bool Checked = false;
  TColor CheckColor = clGreen;
  TCheckBoxStyle BoxStyle = TCheckBoxStyle::btClassic;
  TAlignment Alignment = TAlignment::taLeftJustify;
  bool Transparent = true;
  TColor Color = clBtnFace;
  TFont Font;
  bool ReturnIsTab = false;  // Return moves the focus on when true
  TNotifyEvent OnClick;

  // A click or the Space key: the tick toggles, then OnClick runs. Main thread.
  void Toggle() {
    Checked = !Checked;
    if (OnClick) OnClick(this);
  }
  // Also scales the font (the box follows the control's dpi when drawn).
  void ScaleTo(int dpi) override;
  void AttachTo(framework::FormWindow& window) override;

 private:
  bool mFontStored = false;
  TFont mStoredFont;
};

class TButton : public TControl {
 public:
  explicit TButton(TComponent* owner) : TControl(owner) {}

  std::u16string Caption;
  bool Default = false;  // the Return key presses a default button
  TNotifyEvent OnClick;

  // What a press of the button does; main thread.
  void Click() {
    if (OnClick) OnClick(this);
  }
  void AttachTo(framework::FormWindow& window) override;
};

// The classic check mark: 7 x 7 pixels at 96 dpi, row by row, bit 6 the leftmost.
inline constexpr std::uint8_t kCheckGlyph[7] = {0x01, 0x03, 0x47, 0x6E, 0x7C, 0x38, 0x10};
inline constexpr int kCheckBoxSize = 13;  // the classic box at 96 dpi, its 2-pixel edge included
// The side of the classic box at dpi.
constexpr int CheckBoxSize(int dpi) { return framework::ScaleFromDesign(kCheckBoxSize, dpi); }
