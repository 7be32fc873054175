#include "disk/jpeg_encoder.h"

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace quarrin {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return.
// Unwinding a C++ exception through libjpeg's C frames is not safe, so it
// jumps back into Compress, which holds no object with a destructor.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ExitOnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt data on decoding) cannot arise when encoding; keep
// libjpeg from printing to stderr regardless.
void IgnoreMessage(j_common_ptr /*cinfo*/) {}

// Fills *out (malloc'ed by libjpeg, *out_size bytes) or returns false with
// err->message set.
bool Compress(const uint8_t* pixels, int width, int height, int stride, int quality,
              ErrorManager* err, unsigned char** out, unsigned long* out_size) {
  jpeg_compress_struct cinfo;
  cinfo.err = jpeg_std_error(&err->pub);
  err->pub.error_exit = ExitOnError;
  err->pub.output_message = IgnoreMessage;
  if (setjmp(err->jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 4;
  cinfo.in_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<size_t>(cinfo.next_scanline) *
                                                     static_cast<size_t>(stride));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

std::string EncodeJpeg(const uint8_t* pixels, int width, int height, int stride, int quality) {
  if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4) {
    throw JpegError("Cannot encode an image of " + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels");
  }
  ErrorManager err{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok = Compress(pixels, width, height, stride, quality, &err, &buffer, &size);
  std::string jpeg;
  if (ok) jpeg.assign(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  if (!ok) throw JpegError(std::string("JPEG encoding failed: ") + err.message);
  return jpeg;
}

}  // namespace quarrin
