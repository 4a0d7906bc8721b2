// The Linux build's display density: the factor a user may give in
// NVK_SCALE, and the X server's Xft.dpi resource. Pure functions of their
// text, so that odd values can be tried without a display.
#pragma once

#include <optional>

namespace framework {

// The smallest and largest dpi the dialog is laid out at on Linux.
inline constexpr int kLeastDpi = 96;
inline constexpr int kMostDpi = 384;

// The dpi for a scale factor as written in NVK_SCALE ("1.5"): 96 times the
// factor, rounded to the nearest integer and kept within 96..384. None when
// the text is absent or is not a finite decimal number as a whole (blanks,
// a decimal comma or a trailing unit make it none).
std::optional<int> DpiFromScaleFactor(const char* text);

// The dpi the X server's resources (the text of XResourceManagerString) give
// in Xft.dpi, looked up as Xft itself looks it up, rounded and kept within
// 96..384. None when the text is absent, holds no Xft.dpi, or its value is
// not a positive number.
std::optional<int> DpiFromXResources(const char* resources);

// The dpi the dialog is laid out at: the factor's when it gives one, else
// the resources', else 96.
int ChooseDisplayDpi(const char* scaleFactor, const char* resources);

}  // namespace framework
