#include "platform/ui/gdiplus_canvas_windows.h"

// clang-format off: gdiplus.h needs the COM declarations first.
#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>
// clang-format on

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/jpeg_frame.h"

namespace quarrin {
namespace {

namespace gp = Gdiplus;
namespace gdip = Gdiplus::DllExports;

struct Rgb {
  int r, g, b;
  bool IsWhite() const { return r > 235 && g > 235 && b > 235; }
  bool IsDark() const { return r < 128 && g < 128 && b < 128; }
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) {
  return out << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// A JPEG file decoded by GDI+ itself, read pixel by pixel.
class Decoded {
 public:
  explicit Decoded(const std::string& jpeg) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return;
    ULONG written = 0;
    stream->Write(jpeg.data(), static_cast<ULONG>(jpeg.size()), &written);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    gdip::GdipCreateBitmapFromStream(stream, &bitmap_);
    stream->Release();
  }
  ~Decoded() {
    if (bitmap_ != nullptr) gdip::GdipDisposeImage(bitmap_);
  }
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;

  bool ok() const { return bitmap_ != nullptr; }
  Rgb At(int x, int y) const {
    gp::ARGB argb = 0;
    gdip::GdipBitmapGetPixel(bitmap_, x, y, &argb);
    return Rgb{static_cast<int>(argb >> 16 & 0xFF), static_cast<int>(argb >> 8 & 0xFF),
               static_cast<int>(argb & 0xFF)};
  }
  // Whether any pixel of the rectangle is dark.
  bool AnyDark(int x0, int y0, int x1, int y1) const {
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        if (At(x, y).IsDark()) return true;
      }
    }
    return false;
  }

 private:
  gp::GpBitmap* bitmap_ = nullptr;
};

TEST(GdiplusCanvasTest, EncodesABaselineJpegAtQuality75OfItsSize) {
  const struct {
    int width, height;
  } sizes[] = {{790, 390}, {790, 590}, {17, 9}, {1, 1}};
  for (const auto& size : sizes) {
    std::unique_ptr<DrawingCanvas> canvas = NewGdiplusCanvas(size.width, size.height);
    EXPECT_TRUE(testing::IsBaselineJpeg(canvas->Jpeg(), size.width, size.height))
        << size.width << " x " << size.height;
  }
}

TEST(GdiplusCanvasTest, RefusesImpossibleSizes) {
  for (int side : {0, -1, 1 << 20}) {
    EXPECT_THROW(NewGdiplusCanvas(side, 10), DrawingError) << side;
    EXPECT_THROW(NewGdiplusCanvas(10, side), DrawingError) << side;
  }
  std::shared_ptr<const DrawingBackground> small = NewGdiplusCanvas(10, 10)->AsBackground();
  EXPECT_THROW(NewGdiplusCanvas(20, 10, small), DrawingError);
}

TEST(GdiplusCanvasTest, LinesRectanglesAndClipKeepTheirPixelsAndColours) {
  std::unique_ptr<DrawingCanvas> canvas = NewGdiplusCanvas(120, 80);
  canvas->StrokeSharpLines({{{10.5, 20.5}, {100.5, 20.5}}}, Colour{1, 0, 0});
  canvas->FillRectangle(10, 40, 30, 20, Colour{0, 0, 1});
  canvas->StrokeLines({{{60.5, 40}, {60.5, 70}}}, Grey(0));
  // Nothing outside the clip, and the clip gone once popped.
  canvas->PushClip(70, 40, 10, 10);
  canvas->FillRectangle(70, 40, 40, 30, Colour{0, 0.6, 0});
  canvas->PopClip();
  canvas->FillRectangle(100, 70, 10, 5, Colour{0, 0.6, 0});

  Decoded img(canvas->Jpeg());
  ASSERT_TRUE(img.ok());
  const Rgb red = img.At(50, 20);
  EXPECT_GT(red.r - std::max(red.g, red.b), 60) << red.r << " " << red.g << " " << red.b;
  EXPECT_TRUE(img.At(50, 24).IsWhite()) << img.At(50, 24);
  const Rgb blue = img.At(25, 50);
  EXPECT_GT(blue.b, 200);
  EXPECT_LT(blue.r, 60);
  // The lines cover their own pixels, not half of each neighbour: seen on
  // the grey line, as JPEG blurs colour over neighbouring pixels.
  EXPECT_TRUE(img.At(60, 55).IsDark());
  EXPECT_TRUE(img.At(59, 55).IsWhite());
  EXPECT_TRUE(img.At(61, 55).IsWhite());
  EXPECT_GT(img.At(75, 45).g, 100);
  EXPECT_LT(img.At(75, 45).r, 80);
  EXPECT_TRUE(img.At(90, 60).IsWhite());  // clipped
  EXPECT_LT(img.At(105, 72).r, 80);       // drawn after the clip went
}

TEST(GdiplusCanvasTest, TextIsMeasuredAndDrawnInArial) {
  std::unique_ptr<DrawingCanvas> canvas = NewGdiplusCanvas(300, 60);
  const std::string text = "Disk usage of c:\\Windows";
  const TextSize title = canvas->MeasureText(text, DrawingFont::kTitle);
  const TextSize axis = canvas->MeasureText(text, DrawingFont::kAxis);
  // Arial 10 pt is about 13 pixels high at 96 dpi, its line a few more.
  EXPECT_GE(title.height, 13);
  EXPECT_LE(title.height, 20);
  EXPECT_LT(axis.height, title.height);
  EXPECT_GT(title.width, 120);
  EXPECT_LT(title.width, 220);
  EXPECT_LT(axis.width, title.width);
  EXPECT_EQ(canvas->MeasureText("", DrawingFont::kAxis).width, 0);

  canvas->WriteText(text, DrawingFont::kTitle, 10, 10, Grey(0));
  Decoded img(canvas->Jpeg());
  ASSERT_TRUE(img.ok());
  const int right = 10 + static_cast<int>(title.width);
  const int bottom = 10 + static_cast<int>(title.height);
  EXPECT_TRUE(img.AnyDark(10, 10, 10 + 20, bottom)) << "the first letters";
  EXPECT_TRUE(img.AnyDark(right - 20, 10, right, bottom)) << "the last letters";
  EXPECT_FALSE(img.AnyDark(right + 4, 0, 300, 60)) << "nothing right of the text";
  EXPECT_FALSE(img.AnyDark(0, bottom + 3, 300, 60)) << "nothing below the text";
}

TEST(GdiplusCanvasTest, TextTooWideLosesCharactersToAnEllipsis) {
  std::unique_ptr<DrawingCanvas> canvas = NewGdiplusCanvas(300, 60);
  const std::string text = "c:\\A folder with a name far too long to stand beside the bars";
  const double full = canvas->MeasureText(text, DrawingFont::kAxis).width;
  ASSERT_GT(full, 150);
  for (Ellipsis ellipsis : {Ellipsis::kEnd, Ellipsis::kMiddle}) {
    const double shown = canvas->MeasureText(text, DrawingFont::kAxis, 150, ellipsis).width;
    EXPECT_LE(shown, 150);
    EXPECT_GT(shown, 120);
  }
  // Text that fits is left whole, and so is text of invalid UTF-8.
  EXPECT_EQ(canvas->MeasureText("c:\\Data", DrawingFont::kAxis, 150, Ellipsis::kMiddle).width,
            canvas->MeasureText("c:\\Data", DrawingFont::kAxis).width);
  EXPECT_GT(canvas->MeasureText("bad \xFF\xFE", DrawingFont::kAxis).width, 10);
}

TEST(GdiplusCanvasTest, APictureBegunFromABackgroundKeepsItsPixels) {
  std::unique_ptr<DrawingCanvas> first = NewGdiplusCanvas(64, 32);
  first->FillRectangle(0, 0, 16, 32, Grey(0));
  std::shared_ptr<const DrawingBackground> background = first->AsBackground();
  first->FillRectangle(48, 0, 16, 32, Grey(0));  // after: not in the background

  std::unique_ptr<DrawingCanvas> later = NewGdiplusCanvas(64, 32, background);
  later->FillRectangle(24, 0, 16, 32, Grey(0));
  const std::string jpeg = later->Jpeg(*background);
  EXPECT_TRUE(testing::IsBaselineJpeg(jpeg, 64, 32));
  Decoded img(jpeg);
  ASSERT_TRUE(img.ok());
  EXPECT_TRUE(img.At(8, 16).IsDark());
  EXPECT_TRUE(img.At(32, 16).IsDark());
  EXPECT_TRUE(img.At(56, 16).IsWhite());
}

}  // namespace
}  // namespace quarrin
