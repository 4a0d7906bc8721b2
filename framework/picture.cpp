// The JPEG decoder over libjpeg: errors come back through a jump, never
// exit(); pictures for another dpi are decoded with libjpeg's scaling.
#include "framework/picture.h"

#include <csetjmp>
#include <cstdio>

#include "framework/scaling.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

struct ErrorManager {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(manager->Jump, 1);
}

void OutputMessage(j_common_ptr) {}  // warnings of damaged data are not printed

// Decodes into `picture` at dpi (libjpeg's scaling only: the result is at
// least the scaled size); a libjpeg error jumps back here. Only trivially
// destructible locals live between setjmp and the jump, and the vector is
// owned by the caller, so nothing is skipped.
bool Decode(jpeg_decompress_struct& info, ErrorManager& errors, const unsigned char* data, std::size_t size, int dpi,
            TBitmap& picture) {
  if (setjmp(errors.Jump) != 0) return false;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  if (info.image_width == 0 || info.image_height == 0 || info.image_width > kMaxPictureSide ||
      info.image_height > kMaxPictureSide) {
    return false;
  }
  info.out_color_space = JCS_RGB;
  const int width = static_cast<int>(info.image_width);
  const int height = static_cast<int>(info.image_height);
  info.scale_num = static_cast<unsigned>(JpegScaleEighths(width, height, framework::ScaleFromDesign(width, dpi),
                                                          framework::ScaleFromDesign(height, dpi)));
  info.scale_denom = 8;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) return false;
  picture.Width = static_cast<int>(info.output_width);
  picture.Height = static_cast<int>(info.output_height);
  picture.Rgb.assign(static_cast<std::size_t>(picture.Width) * static_cast<std::size_t>(picture.Height) * 3, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = picture.Rgb.data() + static_cast<std::size_t>(info.output_scanline) *
                                            static_cast<std::size_t>(picture.Width) * 3;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

bool DecodeJpeg(const unsigned char* data, std::size_t size, TBitmap& picture) {
  return DecodeJpegAtDpi(data, size, framework::kDesignDpi, picture);
}

int JpegScaleEighths(int width, int height, int targetWidth, int targetHeight) {
  for (int eighths = 1; eighths < 16; ++eighths) {
    // libjpeg rounds a scaled side up.
    if ((width * eighths + 7) / 8 >= targetWidth && (height * eighths + 7) / 8 >= targetHeight) return eighths;
  }
  return 16;
}

bool DecodeJpegAtDpi(const unsigned char* data, std::size_t size, int dpi, TBitmap& picture) {
  picture = TBitmap{};
  if (data == nullptr || size < 4 || dpi <= 0) return false;
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.Base);
  errors.Base.error_exit = &ErrorExit;
  errors.Base.output_message = &OutputMessage;
  const bool decoded = Decode(info, errors, data, size, dpi, picture);
  const int width = static_cast<int>(info.image_width);
  const int height = static_cast<int>(info.image_height);
  jpeg_destroy_decompress(&info);
  if (!decoded) {
    picture = TBitmap{};
    return false;
  }
  const int targetWidth = framework::ScaleFromDesign(width, dpi);
  const int targetHeight = framework::ScaleFromDesign(height, dpi);
  if (targetWidth < 1 || targetHeight < 1) {
    picture = TBitmap{};
    return false;
  }
  if (picture.Width != targetWidth || picture.Height != targetHeight) {
    picture = ResampleByArea(picture, targetWidth, targetHeight);
  }
  return true;
}
