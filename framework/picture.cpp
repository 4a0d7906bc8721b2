// The JPEG decoder over libjpeg: errors come back through a jump, never exit().
#include "framework/picture.h"

#include <csetjmp>
#include <cstdio>

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

// Decodes into `picture`; a libjpeg error jumps back here. Only trivially
// destructible locals live between setjmp and the jump, and the vector is
// owned by the caller, so nothing is skipped.
bool Decode(jpeg_decompress_struct& info, ErrorManager& errors, const unsigned char* data, std::size_t size,
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
  picture = TBitmap{};
  if (data == nullptr || size < 4) return false;
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.Base);
  errors.Base.error_exit = &ErrorExit;
  errors.Base.output_message = &OutputMessage;
  const bool decoded = Decode(info, errors, data, size, picture);
  jpeg_destroy_decompress(&info);
  if (!decoded) picture = TBitmap{};
  return decoded;
}
