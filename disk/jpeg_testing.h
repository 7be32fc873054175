// Decoding the charts in tests, with libjpeg itself.
#ifndef QUARRIN_DISK_JPEG_TESTING_H_
#define QUARRIN_DISK_JPEG_TESTING_H_

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

namespace quarrin::testing {

struct Rgb {
  int r, g, b;
};

struct DecodedJpeg {
  bool ok = false;
  std::string error;
  int width = 0, height = 0, components = 0;
  bool progressive = true;
  bool baseline_frame = false;  // an SOF0 marker and no other frame type
  int luma_dc_quantizer = 0;    // 8 at quality 75
  std::vector<uint8_t> rgb;

  Rgb At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  // A pixel of a 1-pixel pure red line after JPEG's colour subsampling,
  // which shares each pixel's colour with its 2 x 2 block and so turns a
  // thin red line dark red: red clearly above green and blue, and not the
  // pale pink the same sharing leaves beside the line.
  bool IsRed(int x, int y) const {
    const Rgb c = At(x, y);
    return c.r - std::max(c.g, c.b) >= 20 && c.g < 160;
  }
};

namespace jpeg_detail {
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};
inline void ExitOnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}
inline void Quiet(j_common_ptr) {}

inline bool Decode(const std::string& bytes, DecodedJpeg* out, ErrorManager* err) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&err->pub);
  err->pub.error_exit = ExitOnError;
  err->pub.output_message = Quiet;
  if (setjmp(err->jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  out->width = static_cast<int>(cinfo.image_width);
  out->height = static_cast<int>(cinfo.image_height);
  out->components = cinfo.num_components;
  out->progressive = cinfo.progressive_mode != 0;
  out->luma_dc_quantizer = cinfo.quant_tbl_ptrs[0] ? cinfo.quant_tbl_ptrs[0]->quantval[0] : 0;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out->rgb.resize(static_cast<size_t>(out->width) * static_cast<size_t>(out->height) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->rgb.data() + static_cast<size_t>(cinfo.output_scanline) *
                                         static_cast<size_t>(out->width) * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}
}  // namespace jpeg_detail

// The whole image decoded to RGB; ok false with libjpeg's message when the
// bytes are not a complete JPEG file.
inline DecodedJpeg DecodeJpeg(const std::string& bytes) {
  DecodedJpeg out;
  jpeg_detail::ErrorManager err{};
  out.ok = jpeg_detail::Decode(bytes, &out, &err);
  if (!out.ok) out.error = err.message;
  // Frame markers: SOF0 is baseline; SOF1..SOF15 (but DHT, JPG and DAC,
  // which share the range) are any other kind.
  bool sof0 = false, other = false;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (static_cast<uint8_t>(bytes[i]) != 0xFF) continue;
    const auto m = static_cast<uint8_t>(bytes[i + 1]);
    if (m == 0xC0) sof0 = true;
    if (m > 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) other = true;
    if (m == 0xDA) break;  // start of scan: entropy-coded data follows
  }
  out.baseline_frame = sof0 && !other;
  return out;
}

// The charts' encoding: a complete width x height baseline 24-bit colour
// JPEG at quality 75.
inline ::testing::AssertionResult IsChartJpeg(const DecodedJpeg& img, int width, int height) {
  if (!img.ok) return ::testing::AssertionFailure() << "does not decode: " << img.error;
  if (img.width != width || img.height != height) {
    return ::testing::AssertionFailure() << img.width << " x " << img.height;
  }
  if (img.components != 3) return ::testing::AssertionFailure() << img.components << " components";
  if (img.progressive || !img.baseline_frame) return ::testing::AssertionFailure() << "not baseline";
  // Quality 75 scales the standard luminance DC quantizer 16 to 8.
  if (img.luma_dc_quantizer != 8) {
    return ::testing::AssertionFailure() << "DC quantizer " << img.luma_dc_quantizer;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace quarrin::testing

#endif  // QUARRIN_DISK_JPEG_TESTING_H_
