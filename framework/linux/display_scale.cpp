// Reading the Linux build's display density from NVK_SCALE's text and from
// the X server's resource text.
#include "framework/linux/display_scale.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "framework/scaling.h"

namespace framework {
namespace {

// A finite decimal number that is the whole of text (no blanks, no other
// characters); from_chars reads it the same in every locale.
std::optional<double> WholeNumber(const char* text) {
  if (text == nullptr) return std::nullopt;
  const char* end = text + std::strlen(text);
  double value = 0;
  const auto [stop, error] = std::from_chars(text, end, value, std::chars_format::general);
  if (error != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

int RoundedWithinRange(double dpi) {
  if (!(dpi > kLeastDpi)) return kLeastDpi;
  if (dpi >= kMostDpi) return kMostDpi;
  return static_cast<int>(std::lround(dpi));
}

}  // namespace

std::optional<int> DpiFromScaleFactor(const char* text) {
  const std::optional<double> factor = WholeNumber(text);
  if (!factor) return std::nullopt;
  return RoundedWithinRange(*factor * kDesignDpi);
}

std::optional<int> DpiFromXResources(const char* resources) {
  if (resources == nullptr) return std::nullopt;
  XrmInitialize();
  XrmDatabase database = XrmGetStringDatabase(resources);
  if (database == nullptr) return std::nullopt;
  char* type = nullptr;
  XrmValue value{};
  std::optional<double> dpi;
  if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr) {
    std::string text(value.addr);
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    dpi = WholeNumber(text.c_str());
  }
  XrmDestroyDatabase(database);
  if (!dpi || !(*dpi > 0)) return std::nullopt;
  return RoundedWithinRange(*dpi);
}

int ChooseDisplayDpi(const char* scaleFactor, const char* resources) {
  if (const std::optional<int> dpi = DpiFromScaleFactor(scaleFactor)) return *dpi;
  if (const std::optional<int> dpi = DpiFromXResources(resources)) return *dpi;
  return kDesignDpi;
}

}  // namespace framework
