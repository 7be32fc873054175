// JPEG encoding of rendered charts.
#ifndef QUARRIN_DISK_JPEG_ENCODER_H_
#define QUARRIN_DISK_JPEG_ENCODER_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quarrin {

// An image that could not be encoded; the message is libjpeg's.
class JpegError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encodes a 24-bit colour image held as 32-bit pixels in native byte order
// with the colour in the low three bytes (cairo's CAIRO_FORMAT_RGB24: blue
// in the lowest byte, then green, then red, the top byte ignored), `stride`
// bytes apart from row to row. Returns the whole JPEG file: baseline,
// YCbCr, at `quality` with libjpeg's defaults otherwise. Throws JpegError.
// Safe for concurrent use: each call has its own encoder.
std::string EncodeJpeg(const uint8_t* pixels, int width, int height, int stride, int quality = 75);

}  // namespace quarrin

#endif  // QUARRIN_DISK_JPEG_ENCODER_H_
