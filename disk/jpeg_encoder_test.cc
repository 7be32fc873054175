#include "disk/jpeg_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "disk/jpeg_testing.h"

namespace quarrin {
namespace {

using testing::DecodeJpeg;

struct Size {
  int width, height, stride;
};

std::vector<uint8_t> Noise(const Size& size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(static_cast<size_t>(size.stride) * static_cast<size_t>(size.height));
  for (uint8_t& byte : pixels) byte = static_cast<uint8_t>(random());
  return pixels;
}

// Paints the pixel at (x, y) a colour the background does not have there.
void Touch(std::vector<uint8_t>* pixels, const Size& size, int x, int y) {
  uint8_t* p = pixels->data() + static_cast<size_t>(y) * static_cast<size_t>(size.stride) +
               static_cast<size_t>(x) * 4;
  for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>(p[i] ^ 0x80);
}

TEST(BackgroundJpegEncoderTest, DecodesToThePixelsOfAPlainEncoding) {
  // Pictures cut short of whole 16 x 16 blocks on the right, at the bottom
  // or both, and pictures smaller than one block, with changes in the
  // blocks that libjpeg pads and in those it does not.
  using Change = std::function<void(std::vector<uint8_t>*, const Size&)>;
  const Change nothing = [](std::vector<uint8_t>*, const Size&) {};
  const Change centre = [](std::vector<uint8_t>* p, const Size& s) {
    Touch(p, s, s.width / 2, s.height / 2);
  };
  const Change corners = [](std::vector<uint8_t>* p, const Size& s) {
    for (int x : {0, s.width - 1}) {
      for (int y : {0, s.height - 1}) Touch(p, s, x, y);
    }
  };
  const Change edges = [](std::vector<uint8_t>* p, const Size& s) {
    for (int y = 0; y < s.height; y += 3) Touch(p, s, s.width - 1, y);
    for (int x = 0; x < s.width; x += 5) Touch(p, s, x, s.height - 1);
    Touch(p, s, 17, 3);
  };
  const Change everything = [](std::vector<uint8_t>* p, const Size& s) { *p = Noise(s, 2); };
  struct Case {
    const char* name;
    Size size;
    Change change;
  };
  const Case cases[] = {
      {"chart, unchanged", {790, 390, 790 * 4}, nothing},
      {"chart, centre", {790, 390, 790 * 4}, centre},
      {"chart, corners", {790, 390, 790 * 4}, corners},
      {"chart, edges", {790, 390, 790 * 4}, edges},
      {"chart, everything", {790, 390, 790 * 4}, everything},
      {"whole blocks", {64, 48, 64 * 4}, edges},
      {"short on the right, padded rows", {70, 32, 70 * 4 + 24}, edges},
      {"short at the bottom", {48, 41, 48 * 4}, edges},
      {"tall and narrow", {21, 200, 21 * 4}, edges},
      {"smaller than a block", {10, 7, 10 * 4}, corners},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Size& s = c.size;
    std::vector<uint8_t> picture = Noise(s, 1);
    const BackgroundJpegEncoder encoder(picture, s.width, s.height, s.stride);
    c.change(&picture, s);
    const testing::DecodedJpeg joined = DecodeJpeg(encoder.Encode(picture.data()));
    ASSERT_TRUE(testing::IsChartJpeg(joined, s.width, s.height));
    const testing::DecodedJpeg plain =
        DecodeJpeg(EncodeJpeg(picture.data(), s.width, s.height, s.stride));
    ASSERT_TRUE(plain.ok);
    EXPECT_TRUE(joined.rgb == plain.rgb);
  }
}

TEST(BackgroundJpegEncoderTest, RefusesABackgroundShortOfItsSize) {
  EXPECT_THROW(BackgroundJpegEncoder(std::vector<uint8_t>(40 * 4 * 29), 40, 30, 40 * 4), JpegError);
  EXPECT_THROW(BackgroundJpegEncoder(std::vector<uint8_t>(16), 0, 4, 4), JpegError);
}

}  // namespace
}  // namespace quarrin
