// Text of the Win32 backend: GDI fonts for a control's font in its four
// faces, and the rich-text measurer and painter over a device context.
#pragma once

#include <windows.h>

#include "controls/text_layout.h"
#include "controls/text_painter.h"
#include "framework/controls.h"

namespace framework {

// The RGB value of a colour; system colours come from GetSysColor.
controls::Rgb ResolveColor(TColor color);
COLORREF ToColorRef(controls::Rgb colour);
// Fills a rectangle with one colour.
void FillRgb(HDC dc, int left, int top, int width, int height, controls::Rgb colour);

// The GDI fonts of one TFont: plain, bold, italic, bold italic (the face adds
// to the font's own style), made on first use and deleted with the set.
// Main thread.
class GdiFontSet {
 public:
  explicit GdiFontSet(const TFont& font) : mFont(font) {}
  ~GdiFontSet();
  GdiFontSet(const GdiFontSet&) = delete;
  GdiFontSet& operator=(const GdiFontSet&) = delete;

  HFONT Get(controls::FontFace face, bool underline = false);

 private:
  TFont mFont;
  HFONT mFonts[8] = {};
};

// Selects fonts of the set into a device context; leaves the context's
// first font selected again when it goes.
class GdiText final : public controls::TextMeasurer, public controls::TextPainter {
 public:
  GdiText(HDC dc, GdiFontSet& fonts) : mDc(dc), mFonts(fonts) {}
  ~GdiText() override;
  GdiText(const GdiText&) = delete;
  GdiText& operator=(const GdiText&) = delete;

  int TextWidth(std::u16string_view text, controls::FontFace face) override;
  controls::FontMetrics Metrics(controls::FontFace face) override;
  // Draws with a transparent background at the baseline.
  void DrawText(int x, int baselineY, std::u16string_view text, controls::FontFace face, controls::Rgb colour,
                bool underline) override;

 private:
  void Select(HFONT font);

  HDC mDc;
  GdiFontSet& mFonts;
  HGDIOBJ mOriginal = nullptr;
};

}  // namespace framework
