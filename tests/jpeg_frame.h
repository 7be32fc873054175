// The frame of a JPEG file read from its markers alone, for tests on
// systems without a JPEG decoder of our own.
#ifndef QUARRIN_TESTS_JPEG_FRAME_H_
#define QUARRIN_TESTS_JPEG_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace quarrin::testing {

struct JpegFrame {
  bool complete = false;  // SOI first, a frame, a scan, EOI last
  int frame_marker = 0;   // 0xC0 for baseline, 0xC2 progressive...
  int width = 0, height = 0, components = 0;
  int luma_dc_quantizer = 0;  // the first value of table 0: 8 at quality 75
};

inline JpegFrame ReadJpegFrame(const std::string& jpeg) {
  JpegFrame frame;
  const auto byte = [&jpeg](size_t i) { return static_cast<uint8_t>(jpeg[i]); };
  if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return frame;
  size_t i = 2;
  for (;;) {
    if (i + 4 > jpeg.size() || byte(i) != 0xFF) return frame;
    const int marker = byte(i + 1);
    const size_t length = static_cast<size_t>(byte(i + 2)) << 8 | byte(i + 3);
    const size_t body = i + 4;
    if (length < 2 || i + 2 + length > jpeg.size()) return frame;
    // SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC), which share the range.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC &&
        length >= 8) {
      frame.frame_marker = marker;
      frame.height = byte(body + 1) << 8 | byte(body + 2);
      frame.width = byte(body + 3) << 8 | byte(body + 4);
      frame.components = byte(body + 5);
    }
    // DQT: tables of a precision/id byte and 64 values, DC first.
    for (size_t t = body; marker == 0xDB && t + 65 <= i + 2 + length;
         t += (byte(t) >> 4) != 0 ? 129 : 65) {
      if ((byte(t) & 0x0F) != 0) continue;
      frame.luma_dc_quantizer = (byte(t) >> 4) != 0 ? byte(t + 1) << 8 | byte(t + 2) : byte(t + 1);
    }
    i += 2 + length;
    if (marker == 0xDA) break;
  }
  frame.complete = frame.frame_marker != 0 && jpeg.size() >= i + 2 &&
                   byte(jpeg.size() - 2) == 0xFF && byte(jpeg.size() - 1) == 0xD9;
  return frame;
}

// A complete width x height baseline JPEG of 24-bit colour at quality 75.
inline ::testing::AssertionResult IsBaselineJpeg(const std::string& jpeg, int width, int height) {
  const JpegFrame f = ReadJpegFrame(jpeg);
  if (!f.complete) return ::testing::AssertionFailure() << "not a complete JPEG file";
  if (f.frame_marker != 0xC0) {
    return ::testing::AssertionFailure() << "frame marker " << std::hex << f.frame_marker;
  }
  if (f.width != width || f.height != height) {
    return ::testing::AssertionFailure() << f.width << " x " << f.height;
  }
  if (f.components != 3) return ::testing::AssertionFailure() << f.components << " components";
  // Quality 75 scales the standard luminance DC quantizer 16 to 8.
  if (f.luma_dc_quantizer != 8) {
    return ::testing::AssertionFailure() << "DC quantizer " << f.luma_dc_quantizer;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_JPEG_FRAME_H_
