// JPEG encoding of rendered charts.
#ifndef QUARRIN_DISK_JPEG_ENCODER_H_
#define QUARRIN_DISK_JPEG_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

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

// Encodes pictures drawn over one fixed background, as EncodeJpeg does,
// for a fraction of the work when they differ from the background in a
// small part. The background is compressed once, and a picture only in the
// 16 x 16 blocks (the MCUs of 4:2:0 sampling) where it differs; the file
// joins the two. A restart marker after every block makes the blocks' data
// independent of each other, so the file decodes to exactly the pixels of
// EncodeJpeg's, at the cost of two or three more bytes a block.
// Safe for concurrent use once made.
class BackgroundJpegEncoder {
 public:
  // The background in EncodeJpeg's layout, rows `stride` bytes apart.
  // Throws JpegError.
  BackgroundJpegEncoder(std::vector<uint8_t> background, int width, int height, int stride,
                        int quality = 75);

  const std::vector<uint8_t>& background() const { return background_; }

  // The JPEG file of a picture laid out as the background. Throws JpegError.
  std::string Encode(const uint8_t* pixels) const;

 private:
  struct Span {
    size_t begin, size;
  };
  struct Slots;

  // The spans of a JPEG file with a restart marker after every MCU: the
  // header before the entropy-coded data, and each MCU's data.
  static std::vector<Span> SplitAtRestarts(const std::string& jpeg, size_t mcu_count,
                                           size_t* header_size);
  size_t McuCount(int height) const;  // in a picture of the background's width
  bool McuDiffers(const uint8_t* pixels, int column, int row) const;
  Slots PlanMosaic(const uint8_t* pixels) const;
  std::vector<uint8_t> Mosaic(const uint8_t* pixels, const Slots& slots) const;

  int width_, height_, stride_, quality_;
  int columns_, rows_;  // MCUs across and down
  std::vector<uint8_t> background_;
  std::string background_jpeg_;        // with a restart marker after every MCU
  size_t header_size_ = 0;             // its bytes before the first MCU's data
  std::vector<Span> background_mcus_;  // each MCU's data in it
};

}  // namespace quarrin

#endif  // QUARRIN_DISK_JPEG_ENCODER_H_
