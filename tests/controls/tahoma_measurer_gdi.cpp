// Tahoma measured by GDI on a memory device context.
#include <windows.h>

#include <string>

#include "tests/controls/tahoma_measurer.h"

namespace {

class GdiMeasurer final : public controls::TextMeasurer {
 public:
  ~GdiMeasurer() override {
    if (mDc != nullptr) {
      if (mOriginal != nullptr) SelectObject(mDc, mOriginal);
      DeleteDC(mDc);
    }
    for (HFONT font : mFonts) {
      if (font != nullptr) DeleteObject(font);
    }
  }

  bool Open(int pixels, std::string& problem) {
    mDc = CreateCompatibleDC(nullptr);
    if (mDc == nullptr) {
      problem = "no memory device context";
      return false;
    }
    for (int k = 0; k < 2; ++k) {
      mFonts[k] = CreateFontW(-pixels, 0, 0, 0, k == 1 ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
      if (mFonts[k] == nullptr) {
        problem = "CreateFontW failed";
        return false;
      }
      Select(k);
      wchar_t name[LF_FACESIZE] = {};
      GetTextFaceW(mDc, LF_FACESIZE, name);
      if (std::wstring(name) != L"Tahoma") {
        problem = "Tahoma is not installed; GDI substituted another font";
        return false;
      }
      TEXTMETRICW metrics{};
      GetTextMetricsW(mDc, &metrics);
      mMetrics[k] = controls::FontMetrics{metrics.tmAscent, metrics.tmDescent};
    }
    return true;
  }

  int TextWidth(std::u16string_view text, controls::FontFace face) override {
    Select(face.Bold ? 1 : 0);
    SIZE size{};
    GetTextExtentPoint32W(mDc, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), &size);
    return size.cx;
  }

  controls::FontMetrics Metrics(controls::FontFace face) override { return mMetrics[face.Bold ? 1 : 0]; }

 private:
  void Select(int k) {
    HGDIOBJ previous = SelectObject(mDc, mFonts[k]);
    if (mOriginal == nullptr) mOriginal = previous;
  }

  HDC mDc = nullptr;
  HGDIOBJ mOriginal = nullptr;
  HFONT mFonts[2] = {nullptr, nullptr};
  controls::FontMetrics mMetrics[2];
};

}  // namespace

std::unique_ptr<controls::TextMeasurer> MakeTahomaMeasurer(int pixels, std::string& problem) {
  auto measurer = std::make_unique<GdiMeasurer>();
  if (!measurer->Open(pixels, problem)) return nullptr;
  return measurer;
}
