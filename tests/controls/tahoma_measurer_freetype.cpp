// Tahoma measured with FreeType from the TTFs of fonts-wine, hinted at the
// pixel size as the Windows rasteriser does.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <string>

#include "tests/controls/tahoma_measurer.h"

namespace {

constexpr const char* kRegularFile = "/usr/share/wine/fonts/tahoma.ttf";
constexpr const char* kBoldFile = "/usr/share/wine/fonts/tahomabd.ttf";

// Rounds a font-unit value scaled to the pixel size to whole pixels.
int ScaleRounded(long units, int pixels, int unitsPerEm) {
  return static_cast<int>((units * pixels + unitsPerEm / 2) / unitsPerEm);
}

class FreeTypeMeasurer final : public controls::TextMeasurer {
 public:
  ~FreeTypeMeasurer() override {
    for (FT_Face face : mFaces) {
      if (face != nullptr) FT_Done_Face(face);
    }
    if (mLibrary != nullptr) FT_Done_FreeType(mLibrary);
  }

  bool Open(int pixels, std::string& problem) {
    if (FT_Init_FreeType(&mLibrary) != 0) {
      problem = "FreeType does not start";
      return false;
    }
    const char* files[2] = {kRegularFile, kBoldFile};
    for (int k = 0; k < 2; ++k) {
      if (FT_New_Face(mLibrary, files[k], 0, &mFaces[k]) != 0) {
        problem = std::string("cannot open ") + files[k];
        return false;
      }
      if (FT_Set_Pixel_Sizes(mFaces[k], 0, static_cast<FT_UInt>(pixels)) != 0) {
        problem = std::string("no size ") + std::to_string(pixels) + " for " + files[k];
        return false;
      }
      // Ascent and descent as Windows reports them: from the OS/2 table's
      // Windows metrics, scaled and rounded.
      const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(mFaces[k], FT_SFNT_OS2));
      if (os2 == nullptr) {
        problem = std::string("no OS/2 table in ") + files[k];
        return false;
      }
      mMetrics[k].Ascent = ScaleRounded(os2->usWinAscent, pixels, mFaces[k]->units_per_EM);
      mMetrics[k].Descent = ScaleRounded(os2->usWinDescent, pixels, mFaces[k]->units_per_EM);
    }
    return true;
  }

  // Italic is drawn slanted with the upright face's advances.
  int TextWidth(std::u16string_view text, controls::FontFace face) override {
    FT_Face ft = mFaces[face.Bold ? 1 : 0];
    long width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      char32_t c = text[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      }
      if (FT_Load_Char(ft, c, FT_LOAD_DEFAULT) != 0) continue;
      width += ft->glyph->advance.x;  // hinted: whole pixels in 26.6
    }
    return static_cast<int>((width + 32) >> 6);
  }

  controls::FontMetrics Metrics(controls::FontFace face) override { return mMetrics[face.Bold ? 1 : 0]; }

 private:
  FT_Library mLibrary = nullptr;
  FT_Face mFaces[2] = {nullptr, nullptr};
  controls::FontMetrics mMetrics[2];
};

}  // namespace

std::unique_ptr<controls::TextMeasurer> MakeTahomaMeasurer(int pixels, std::string& problem) {
  auto measurer = std::make_unique<FreeTypeMeasurer>();
  if (!measurer->Open(pixels, problem)) return nullptr;
  return measurer;
}
