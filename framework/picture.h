// Pictures in memory, the JPEG decoder (libjpeg) and the picture scaling
// shared by every backend.
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

// Decodes a JPEG stored for 96 dpi at dpi: the result is the picture's width
// and height each scaled from 96 dpi (MulDiv rounding). libjpeg's own
// scaling decodes at JpegScaleEighths of the picture, and area averaging
// (ResampleByArea) brings that to the exact size. At 96 dpi the same as
// DecodeJpeg. Fails as DecodeJpeg does. Any thread.
bool DecodeJpegAtDpi(const unsigned char* data, std::size_t size, int dpi, TBitmap& picture);

// The smallest M of libjpeg's M/8 scaling (1 to 16) at which a width x height
// picture decodes to at least targetWidth x targetHeight; 16 when none does.
int JpegScaleEighths(int width, int height, int targetWidth, int targetHeight);

// The picture brought to width x height by area averaging: each pixel of the
// result is the mean of the part of the source it covers, every source pixel
// weighted by how much of it lies inside. Width and height are at least 1;
// an empty source gives an empty picture.
TBitmap ResampleByArea(const TBitmap& source, int width, int height);
