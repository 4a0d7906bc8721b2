// Text of the FLTK backend: the fonts-wine Tahoma made known to fontconfig,
// FLTK font numbers for a family and style, and the rich-text measurer and
// painter over FLTK's Xft drawing.
#pragma once

#include <FL/Enumerations.H>

#include <string>

#include "controls/text_layout.h"
#include "controls/text_painter.h"
#include "framework/controls.h"

namespace framework {

// Adds /usr/share/wine/fonts/tahoma*.ttf to the application's fontconfig
// fonts, once; a missing folder or file leaves fontconfig's own substitutes
// (for Tahoma, DejaVu Sans). True when at least one file was added. Main
// thread, before the first text is measured.
bool LoadWineFonts();

// The FLTK font number for the family in this style; numbers are handed out
// on first use from FL_FREE_FONT on. Main thread.
Fl_Font FontFor(const std::u16string& family, bool bold, bool italic);

// The RGB value of a colour, with the system colours of a classic Windows
// dialog (button face 0xF0F0F0, window text black).
controls::Rgb ResolveColor(TColor color);

// Measures in one control's font; the face adds bold or italic. Needs the
// display open; used on the main thread while the measurer lives.
class XftMeasurer final : public controls::TextMeasurer {
 public:
  explicit XftMeasurer(const TFont& font) : mFont(font) {}
  int TextWidth(std::u16string_view text, controls::FontFace face) override;
  controls::FontMetrics Metrics(controls::FontFace face) override;

 private:
  TFont mFont;
};

// Draws in one control's font into FLTK's current drawing surface; only
// inside a widget's draw().
class XftPainter final : public controls::TextPainter {
 public:
  explicit XftPainter(const TFont& font) : mFont(font) {}
  void DrawText(int x, int baselineY, std::u16string_view text, controls::FontFace face, controls::Rgb colour,
                bool underline) override;

 private:
  TFont mFont;
};

}  // namespace framework
