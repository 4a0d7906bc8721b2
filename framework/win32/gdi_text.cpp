// GDI fonts and the rich-text measurer and painter of the Win32 backend.
#include "framework/win32/gdi_text.h"

#include <vector>

namespace framework {

controls::Rgb ResolveColor(TColor color) {
  COLORREF value = 0;
  if (IsSystemColor(color)) {
    value = GetSysColor(static_cast<int>(color & 0xFFu));
    return (controls::Rgb{GetRValue(value)} << 16) | (controls::Rgb{GetGValue(value)} << 8) | GetBValue(value);
  }
  return color & 0xFFFFFFu;
}

COLORREF ToColorRef(controls::Rgb colour) {
  return RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
}

GdiFontSet::~GdiFontSet() {
  for (HFONT font : mFonts) {
    if (font != nullptr) DeleteObject(font);
  }
}

HFONT GdiFontSet::Get(controls::FontFace face, bool underline) {
  const bool bold = mFont.Bold || face.Bold;
  const bool italic = mFont.Italic || face.Italic;
  HFONT& font = mFonts[(bold ? 1 : 0) + (italic ? 2 : 0) + (underline ? 4 : 0)];
  if (font == nullptr) {
    font = CreateFontW(-mFont.Height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, underline, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, reinterpret_cast<const wchar_t*>(mFont.Name.c_str()));
  }
  return font;
}

GdiText::~GdiText() {
  if (mOriginal != nullptr) SelectObject(mDc, mOriginal);
}

void GdiText::Select(HFONT font) {
  if (font == nullptr) return;
  HGDIOBJ previous = SelectObject(mDc, font);
  if (mOriginal == nullptr) mOriginal = previous;
}

int GdiText::TextWidth(std::u16string_view text, controls::FontFace face) {
  Select(mFonts.Get(face));
  SIZE size{};
  GetTextExtentPoint32W(mDc, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), &size);
  return size.cx;
}

controls::FontMetrics GdiText::Metrics(controls::FontFace face) {
  Select(mFonts.Get(face));
  TEXTMETRICW metrics{};
  GetTextMetricsW(mDc, &metrics);
  return controls::FontMetrics{metrics.tmAscent, metrics.tmDescent};
}

void GdiText::DrawText(int x, int baselineY, std::u16string_view text, controls::FontFace face,
                       controls::Rgb colour, bool underline) {
  Select(mFonts.Get(face, underline));
  const int mode = SetBkMode(mDc, TRANSPARENT);
  const UINT align = SetTextAlign(mDc, TA_LEFT | TA_BASELINE | TA_NOUPDATECP);
  const COLORREF previous = SetTextColor(mDc, ToColorRef(colour));
  // Each character goes where the measurement put it, so that the runs of a
  // line meet exactly even where a font's drawn advances differ from its
  // reported ones (Wine's do).
  const auto* chars = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  std::vector<int> ends(text.size() + 1, 0);
  SIZE size{};
  if (count > 0 && GetTextExtentExPointW(mDc, chars, count, 0, nullptr, ends.data(), &size)) {
    std::vector<INT> advances(text.size(), 0);
    for (int i = 0; i < count; ++i) advances[static_cast<std::size_t>(i)] = ends[static_cast<std::size_t>(i)] - (i > 0 ? ends[static_cast<std::size_t>(i - 1)] : 0);
    ExtTextOutW(mDc, x, baselineY, 0, nullptr, chars, static_cast<UINT>(count), advances.data());
  } else {
    TextOutW(mDc, x, baselineY, chars, count);
  }
  SetTextColor(mDc, previous);
  SetTextAlign(mDc, align);
  SetBkMode(mDc, mode);
}

void FillRgb(HDC dc, int left, int top, int width, int height, controls::Rgb colour) {
  const COLORREF previous = SetBkColor(dc, ToColorRef(colour));
  const RECT area = {left, top, left + width, top + height};
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
  SetBkColor(dc, previous);
}

}  // namespace framework
