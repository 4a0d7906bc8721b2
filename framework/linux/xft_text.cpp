// Fonts and rich text of the FLTK backend, drawn with FLTK's Xft text calls.
#include "framework/linux/xft_text.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <fontconfig/fontconfig.h>
#include <glob.h>

#include <cmath>
#include <map>
#include <tuple>

#include "platform/text.h"

namespace framework {

namespace {

constexpr const char* kWineFonts = "/usr/share/wine/fonts/tahoma*.ttf";

void Select(const TFont& font, controls::FontFace face) {
  fl_font(FontFor(font.Name, font.Bold || face.Bold, font.Italic || face.Italic), font.Height);
}

}  // namespace

bool LoadWineFonts() {
  static const bool loaded = [] {
    bool any = false;
    glob_t found{};
    if (glob(kWineFonts, 0, nullptr, &found) == 0) {
      for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        const auto* file = reinterpret_cast<const FcChar8*>(found.gl_pathv[i]);
        if (FcConfigAppFontAddFile(nullptr, file) == FcTrue) any = true;
      }
    }
    globfree(&found);
    return any;
  }();
  return loaded;
}

Fl_Font FontFor(const std::u16string& family, bool bold, bool italic) {
  // FLTK's Xft names: the first character gives the style (' ' plain, 'B'
  // bold, 'I' italic, 'P' both), the rest is the fontconfig family.
  static std::map<std::tuple<std::u16string, bool, bool>, Fl_Font> fonts;
  static std::map<Fl_Font, std::string> names;  // FLTK keeps the pointer
  const auto key = std::make_tuple(family, bold, italic);
  if (const auto found = fonts.find(key); found != fonts.end()) return found->second;
  const Fl_Font number = static_cast<Fl_Font>(FL_FREE_FONT + static_cast<int>(fonts.size()));
  const char style = bold ? (italic ? 'P' : 'B') : (italic ? 'I' : ' ');
  names[number] = style + platform::WideToUtf8(family);
  Fl::set_font(number, names[number].c_str());
  fonts[key] = number;
  return number;
}

controls::Rgb ResolveColor(TColor color) {
  if (!IsSystemColor(color)) return color & 0xFFFFFFu;
  switch (color) {
    case clBtnFace: return 0xF0F0F0;
    case clBtnShadow: return 0xA0A0A0;
    case clBtnHighlight: return 0xFFFFFF;
    default: return 0x000000;  // window text and the others drawn as text
  }
}

int XftMeasurer::TextWidth(std::u16string_view text, controls::FontFace face) {
  Select(mFont, face);
  const std::string bytes = platform::WideToUtf8(text);
  return static_cast<int>(std::lround(fl_width(bytes.c_str(), static_cast<int>(bytes.size()))));
}

controls::FontMetrics XftMeasurer::Metrics(controls::FontFace face) {
  Select(mFont, face);
  return controls::FontMetrics{fl_height() - fl_descent(), fl_descent()};
}

void XftPainter::DrawText(int x, int baselineY, std::u16string_view text, controls::FontFace face,
                          controls::Rgb colour, bool underline) {
  Select(mFont, face);
  fl_color(static_cast<uchar>(colour >> 16), static_cast<uchar>(colour >> 8), static_cast<uchar>(colour));
  const std::string bytes = platform::WideToUtf8(text);
  const int length = static_cast<int>(bytes.size());
  fl_draw(bytes.c_str(), length, x, baselineY);
  if (underline) {
    const int width = static_cast<int>(std::lround(fl_width(bytes.c_str(), length)));
    if (width > 0) fl_xyline(x, baselineY + 1, x + width - 1);
  }
}

}  // namespace framework
