// Display scale: the layout is stored at 96 dpi and laid out at the dpi of
// the display the form opens on. Every backend uses these rules.
#pragma once

#include <cstdint>

namespace framework {

// The density the layout's pixels are stored at.
inline constexpr int kDesignDpi = 96;

// number * numerator / denominator rounded to the nearest integer, halves
// away from zero (the rounding of Windows' MulDiv); -1 when denominator is 0
// or the result does not fit an int.
constexpr int MulDivRound(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  std::int64_t product = std::int64_t{number} * numerator;
  std::int64_t divisor = denominator;
  const bool negative = (product < 0) != (divisor < 0);
  if (product < 0) product = -product;
  if (divisor < 0) divisor = -divisor;
  std::int64_t quotient = (product + divisor / 2) / divisor;
  if (negative) quotient = -quotient;
  if (quotient > INT32_MAX || quotient < INT32_MIN) return -1;
  return static_cast<int>(quotient);
}

// A value of the stored layout (a place, a size, a font's pixel height) at dpi.
constexpr int ScaleFromDesign(int value, int dpi) { return MulDivRound(value, dpi, kDesignDpi); }

// The dpi a form is laid out at for a density a backend reports: 96 when it
// reports none (zero or less).
constexpr int UsableDpi(int reported) { return reported > 0 ? reported : kDesignDpi; }

}  // namespace framework
