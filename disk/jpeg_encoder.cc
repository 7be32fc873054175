#include "disk/jpeg_encoder.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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

struct Picture {
  const uint8_t* pixels;
  int width, height, stride;
};

bool IsValid(const Picture& picture) {
  return picture.pixels != nullptr && picture.width > 0 && picture.height > 0 &&
         picture.stride >= picture.width * 4;
}

JpegError InvalidPicture(const Picture& picture) {
  return JpegError("Cannot encode an image of " + std::to_string(picture.width) + " x " +
                   std::to_string(picture.height) + " pixels");
}

// Fills *out (malloc'ed by libjpeg, *out_size bytes) or returns false with
// err->message set. restart_interval: MCUs between restart markers, 0 for
// none.
bool Compress(const Picture& picture, int quality, unsigned restart_interval, ErrorManager* err,
              unsigned char** out, unsigned long* out_size) {
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
  cinfo.image_width = static_cast<JDIMENSION>(picture.width);
  cinfo.image_height = static_cast<JDIMENSION>(picture.height);
  cinfo.input_components = 4;
  cinfo.in_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.restart_interval = restart_interval;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture.pixels + static_cast<size_t>(cinfo.next_scanline) *
                                                             static_cast<size_t>(picture.stride));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

std::string CompressToString(const Picture& picture, int quality, unsigned restart_interval) {
  if (!IsValid(picture)) throw InvalidPicture(picture);
  ErrorManager err{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok = Compress(picture, quality, restart_interval, &err, &buffer, &size);
  std::string jpeg;
  if (ok) jpeg.assign(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  if (!ok) throw JpegError(std::string("JPEG encoding failed: ") + err.message);
  return jpeg;
}

// An MCU of 4:2:0 sampling, libjpeg's default, covers 16 x 16 pixels.
constexpr int kMcuSize = 16;
constexpr int kPixelBytes = 4;

JpegError UnexpectedLayout() {
  return JpegError("JPEG encoding failed: unexpected layout of the compressed data");
}

int CeilDiv(int a, int b) { return (a + b - 1) / b; }

size_t Offset(int x, int y, int stride) {
  return static_cast<size_t>(y) * static_cast<size_t>(stride) +
         static_cast<size_t>(x) * kPixelBytes;
}

}  // namespace

std::string EncodeJpeg(const uint8_t* pixels, int width, int height, int stride, int quality) {
  return CompressToString(Picture{pixels, width, height, stride}, quality, 0);
}

// Where each MCU of a picture comes from: -1 for the background's data,
// else its index in the mosaic, a picture of the MCUs that differ from the
// background packed together. The mosaic is as wide as the picture, and
// the MCUs that the picture's right or bottom edge cuts short lie on the
// mosaic's right or bottom edge, so that libjpeg pads them as it did there.
struct BackgroundJpegEncoder::Slots {
  std::vector<int> of_mcu;
  int mosaic_height = 0;
};

BackgroundJpegEncoder::BackgroundJpegEncoder(std::vector<uint8_t> background, int width, int height,
                                             int stride, int quality)
    : width_(width),
      height_(height),
      stride_(stride),
      quality_(quality),
      columns_(CeilDiv(width, kMcuSize)),
      rows_(CeilDiv(height, kMcuSize)),
      background_(std::move(background)) {
  const Picture picture{background_.data(), width, height, stride};
  if (!IsValid(picture) || background_.size() < Offset(0, height, stride)) {
    throw InvalidPicture(picture);
  }
  background_jpeg_ = CompressToString(picture, quality, 1);
  background_mcus_ = SplitAtRestarts(background_jpeg_, McuCount(height), &header_size_);
}

std::vector<BackgroundJpegEncoder::Span> BackgroundJpegEncoder::SplitAtRestarts(
    const std::string& jpeg, size_t mcu_count, size_t* header_size) {
  const auto byte = [&jpeg](size_t i) { return static_cast<uint8_t>(jpeg[i]); };
  // The marker segments after SOI, each a marker and a length that counts
  // itself, up to and including the start of scan.
  size_t i = 2;
  for (bool scan = false; !scan;) {
    if (i + 4 > jpeg.size() || byte(i) != 0xFF) throw UnexpectedLayout();
    scan = byte(i + 1) == 0xDA;
    i += 2 + (static_cast<size_t>(byte(i + 2)) << 8 | byte(i + 3));
  }
  *header_size = i;
  // Then the entropy-coded data, where an FF byte is followed by 00 (a
  // stuffed data byte) or by a marker: RST0..RST7 between MCUs, EOI last.
  std::vector<Span> mcus;
  mcus.reserve(mcu_count);
  for (size_t begin = i; i + 1 < jpeg.size(); ++i) {
    if (byte(i) != 0xFF || byte(i + 1) == 0x00) continue;
    mcus.push_back(Span{begin, i - begin});
    if (byte(i + 1) == 0xD9) break;
    if (byte(i + 1) < 0xD0 || byte(i + 1) > 0xD7) throw UnexpectedLayout();
    begin = i + 2;
  }
  if (i + 1 >= jpeg.size() || mcus.size() != mcu_count) throw UnexpectedLayout();
  return mcus;
}

size_t BackgroundJpegEncoder::McuCount(int height) const {
  return static_cast<size_t>(columns_) * static_cast<size_t>(CeilDiv(height, kMcuSize));
}

bool BackgroundJpegEncoder::McuDiffers(const uint8_t* pixels, int column, int row) const {
  const int x = column * kMcuSize;
  const size_t bytes = static_cast<size_t>(std::min(kMcuSize, width_ - x)) * kPixelBytes;
  for (int y = row * kMcuSize; y < std::min((row + 1) * kMcuSize, height_); ++y) {
    const size_t at = Offset(x, y, stride_);
    if (std::memcmp(pixels + at, background_.data() + at, bytes) != 0) return true;
  }
  return false;
}

BackgroundJpegEncoder::Slots BackgroundJpegEncoder::PlanMosaic(const uint8_t* pixels) const {
  // Whole MCUs fill the mosaic's rows left to right, those cut short on the
  // right go down its last column, those cut short at the bottom go into
  // one short row below the others.
  const int whole_columns = width_ / kMcuSize;
  const auto narrow = [&](int column) { return width_ % kMcuSize != 0 && column == columns_ - 1; };
  const auto low = [&](int row) { return height_ % kMcuSize != 0 && row == rows_ - 1; };
  std::vector<int> changed;
  int whole = 0, narrows = 0, lows = 0;
  for (int row = 0; row < rows_; ++row) {
    for (int column = 0; column < columns_; ++column) {
      if (!McuDiffers(pixels, column, row)) continue;
      changed.push_back(row * columns_ + column);
      if (low(row)) {
        ++lows;
      } else if (narrow(column)) {
        ++narrows;
      } else {
        ++whole;
      }
    }
  }
  const int full_rows = std::max(whole_columns > 0 ? CeilDiv(whole, whole_columns) : 0, narrows);

  Slots slots;
  slots.of_mcu.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_), -1);
  slots.mosaic_height = full_rows * kMcuSize + (lows > 0 ? height_ % kMcuSize : 0);
  whole = narrows = lows = 0;
  for (int mcu : changed) {
    const int column = mcu % columns_;
    const int row = mcu / columns_;
    int slot = 0;
    if (low(row)) {
      slot = full_rows * columns_ + (narrow(column) ? columns_ - 1 : lows++);
    } else if (narrow(column)) {
      slot = narrows++ * columns_ + columns_ - 1;
    } else {
      slot = whole / whole_columns * columns_ + whole % whole_columns;
      ++whole;
    }
    slots.of_mcu[static_cast<size_t>(mcu)] = slot;
  }
  return slots;
}

std::vector<uint8_t> BackgroundJpegEncoder::Mosaic(const uint8_t* pixels,
                                                   const Slots& slots) const {
  std::vector<uint8_t> mosaic(Offset(0, slots.mosaic_height, stride_));
  for (size_t mcu = 0; mcu < slots.of_mcu.size(); ++mcu) {
    const int slot = slots.of_mcu[mcu];
    if (slot < 0) continue;
    const int x = static_cast<int>(mcu) % columns_ * kMcuSize;
    const int y = static_cast<int>(mcu) / columns_ * kMcuSize;
    const int to_x = slot % columns_ * kMcuSize;
    const int to_y = slot / columns_ * kMcuSize;
    const size_t bytes = static_cast<size_t>(std::min(kMcuSize, width_ - x)) * kPixelBytes;
    for (int dy = 0; dy < std::min(kMcuSize, height_ - y); ++dy) {
      std::memcpy(mosaic.data() + Offset(to_x, to_y + dy, stride_),
                  pixels + Offset(x, y + dy, stride_), bytes);
    }
  }
  return mosaic;
}

std::string BackgroundJpegEncoder::Encode(const uint8_t* pixels) const {
  if (pixels == nullptr) throw InvalidPicture(Picture{pixels, width_, height_, stride_});
  const Slots slots = PlanMosaic(pixels);
  std::string mosaic_jpeg;
  std::vector<Span> mosaic_mcus;
  if (slots.mosaic_height > 0) {
    const std::vector<uint8_t> mosaic = Mosaic(pixels, slots);
    mosaic_jpeg =
        CompressToString(Picture{mosaic.data(), width_, slots.mosaic_height, stride_}, quality_, 1);
    size_t header_size = 0;
    mosaic_mcus = SplitAtRestarts(mosaic_jpeg, McuCount(slots.mosaic_height), &header_size);
  }

  std::string jpeg;
  jpeg.reserve(background_jpeg_.size() + mosaic_jpeg.size());
  jpeg.append(background_jpeg_, 0, header_size_);
  for (size_t mcu = 0; mcu < background_mcus_.size(); ++mcu) {
    if (mcu > 0) {  // RST0..RST7 in turn
      jpeg += '\xFF';
      jpeg += static_cast<char>(0xD0 + (mcu - 1) % 8);
    }
    const int slot = slots.of_mcu[mcu];
    if (slot < 0) {
      jpeg.append(background_jpeg_, background_mcus_[mcu].begin, background_mcus_[mcu].size);
    } else {
      const Span& span = mosaic_mcus[static_cast<size_t>(slot)];
      jpeg.append(mosaic_jpeg, span.begin, span.size);
    }
  }
  jpeg += "\xFF\xD9";
  return jpeg;
}

}  // namespace quarrin
