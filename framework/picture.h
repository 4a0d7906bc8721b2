// Pictures in memory and the JPEG decoder (libjpeg) shared by every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An RGB picture, 3 bytes per pixel, rows from the top without padding.
struct TBitmap {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Rgb;

  bool Empty() const { return Width <= 0 || Height <= 0; }
  // The pixel at (x, y) as 0xRRGGBB; the caller keeps (x, y) inside the picture.
  std::uint32_t Pixel(int x, int y) const {
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x)) * 3;
    return (std::uint32_t{Rgb[at]} << 16) | (std::uint32_t{Rgb[at + 1]} << 8) | Rgb[at + 2];
  }
};

// Pictures larger than this on either side are refused (hostile headers).
inline constexpr int kMaxPictureSide = 8192;

// Decodes a baseline or progressive JPEG (greyscale, RGB or YCbCr) into RGB.
// Returns false and leaves `picture` empty for anything it cannot decode,
// whatever the bytes are; never aborts the process. Any thread.
bool DecodeJpeg(const unsigned char* data, std::size_t size, TBitmap& picture);
