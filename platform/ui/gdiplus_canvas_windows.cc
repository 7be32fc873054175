#include "platform/ui/gdiplus_canvas_windows.h"

// clang-format off: gdiplus.h needs the COM declarations first.
#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

// The pixels of the first picture; GDI+ has no cheaper way to encode what
// differs from it, so later pictures are encoded whole.
struct DrawingBackground {
  int width, height;
  std::vector<uint8_t> pixels;
};

namespace {

namespace gp = Gdiplus;
namespace gdip = Gdiplus::DllExports;

constexpr int kPixelBytes = 4;  // 32bppRGB: blue, green, red, unused
constexpr ULONG kJpegQuality = 75;
// EncoderQuality, 1d5be4b5-fa4a-452d-9cdd-5db35105e7eb.
constexpr GUID kEncoderQuality = {
    0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
constexpr wchar_t kEllipsis[] = L"\u2026";

DrawingError Failure(const std::string& what, gp::Status status) {
  return DrawingError(what + " failed (GDI+ status " + std::to_string(static_cast<int>(status)) +
                      ")");
}

void Check(gp::Status status, const char* what) {
  if (status != gp::Ok) throw Failure(what, status);
}

// GDI+ is started once and stays up for the life of the process: shutting
// it down while another thread draws would break that drawing.
void StartGdiplus() {
  static std::once_flag once;
  static gp::Status status = gp::GenericError;
  std::call_once(once, [] {
    gp::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;
    input.SuppressExternalCodecs = FALSE;
    ULONG_PTR token = 0;
    status = gp::GdiplusStartup(&token, &input, nullptr);
  });
  Check(status, "Starting GDI+");
}

gp::ARGB Argb(Colour c) {
  const auto channel = [](double v) {
    return static_cast<gp::ARGB>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
  };
  return 0xFF000000u | channel(c.r) << 16 | channel(c.g) << 8 | channel(c.b);
}

// The JPEG encoder's class id, looked up once.
const CLSID& JpegEncoder() {
  static const CLSID clsid = [] {
    UINT count = 0, bytes = 0;
    Check(gdip::GdipGetImageEncodersSize(&count, &bytes), "Listing the image encoders");
    std::vector<uint8_t> buffer(bytes);
    auto* codecs = reinterpret_cast<gp::ImageCodecInfo*>(buffer.data());
    Check(gdip::GdipGetImageEncoders(count, bytes, codecs), "Listing the image encoders");
    for (UINT i = 0; i < count; ++i) {
      if (codecs[i].MimeType != nullptr && std::wcscmp(codecs[i].MimeType, L"image/jpeg") == 0) {
        return codecs[i].Clsid;
      }
    }
    throw DrawingError("GDI+ has no JPEG encoder");
  }();
  return clsid;
}

// The bytes written to a memory stream.
std::string StreamBytes(IStream* stream) {
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) throw DrawingError("Reading the JPEG failed");
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &memory))) throw DrawingError("Reading the JPEG failed");
  const void* data = GlobalLock(memory);
  if (data == nullptr) throw DrawingError("Reading the JPEG failed");
  std::string bytes(static_cast<const char*>(data), static_cast<size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return bytes;
}

class GdiplusCanvas final : public DrawingCanvas {
 public:
  GdiplusCanvas(int width, int height, std::vector<uint8_t> pixels)
      : width_(width), height_(height), pixels_(std::move(pixels)) {
    StartGdiplus();
    Check(gdip::GdipCreateBitmapFromScan0(width, height, width * kPixelBytes,
                                          PixelFormat32bppRGB, pixels_.data(), &bitmap_),
          "Creating the picture");
    // 96 dpi, so that 10 pt text is 13 px high as on a desktop screen.
    gdip::GdipBitmapSetResolution(bitmap_, 96, 96);
    const gp::Status status = gdip::GdipGetImageGraphicsContext(bitmap_, &graphics_);
    if (status != gp::Ok) {
      gdip::GdipDisposeImage(bitmap_);
      throw Failure("Drawing on the picture", status);
    }
    // GDI+ puts pixel centres on whole coordinates, the canvas half a pixel
    // in from their corners. (PixelOffsetModeHalf would say the same, but
    // does not move the same way everywhere GDI+ is found, Wine included.)
    gdip::GdipTranslateWorldTransform(graphics_, -0.5f, -0.5f, gp::MatrixOrderPrepend);
    gdip::GdipSetSmoothingMode(graphics_, gp::SmoothingModeAntiAlias);
    gdip::GdipSetTextRenderingHint(graphics_, gp::TextRenderingHintAntiAlias);
    try {
      OpenFonts();
    } catch (...) {
      Release();
      throw;
    }
  }
  ~GdiplusCanvas() override { Release(); }
  GdiplusCanvas(const GdiplusCanvas&) = delete;
  GdiplusCanvas& operator=(const GdiplusCanvas&) = delete;

  int width() const override { return width_; }
  int height() const override { return height_; }

  void StrokeLines(const Polylines& lines, Colour colour) override {
    Pen pen(colour, gp::LineCapFlat, gp::LineJoinMiter);
    StrokeRuns(lines, pen.get());
  }

  void StrokeSharpLines(const Polylines& lines, Colour colour) override {
    Pen pen(colour, gp::LineCapSquare, gp::LineJoinBevel);
    gdip::GdipSetSmoothingMode(graphics_, gp::SmoothingModeNone);
    StrokeRuns(lines, pen.get());
    gdip::GdipSetSmoothingMode(graphics_, gp::SmoothingModeAntiAlias);
  }

  void StrokeRectangle(double x, double y, double w, double h, Colour colour) override {
    Pen pen(colour, gp::LineCapFlat, gp::LineJoinMiter);
    Check(gdip::GdipDrawRectangle(graphics_, pen.get(), F(x), F(y), F(w), F(h)), "Drawing");
  }

  void FillRectangle(double x, double y, double w, double h, Colour colour) override {
    gp::GpSolidFill* brush = nullptr;
    Check(gdip::GdipCreateSolidFill(Argb(colour), &brush), "Drawing");
    const gp::Status status = gdip::GdipFillRectangle(graphics_, brush, F(x), F(y), F(w), F(h));
    gdip::GdipDeleteBrush(brush);
    Check(status, "Drawing");
  }

  void FillGradient(double x, double y, double w, double h,
                    const std::vector<GradientStop>& stops) override {
    if (stops.empty() || w <= 0 || h <= 0) return;
    // The brush runs a little beyond the rectangle at both ends, so that
    // rounding at its edges never wraps round to the other end's colour.
    const gp::GpPointF top{F(x), F(y - 1)};
    const gp::GpPointF bottom{F(x), F(y + h + 1)};
    gp::GpLineGradient* brush = nullptr;
    Check(gdip::GdipCreateLineBrush(&top, &bottom, Argb(stops.front().colour),
                                    Argb(stops.back().colour), gp::WrapModeTileFlipXY, &brush),
          "Drawing");
    std::vector<gp::ARGB> colours;
    std::vector<gp::REAL> offsets;
    for (size_t i = 0; i < stops.size(); ++i) {
      colours.push_back(Argb(stops[i].colour));
      // The blend must span the whole brush, from 0 to 1.
      const bool end = i == 0 || i + 1 == stops.size();
      offsets.push_back(end ? F(i == 0 ? 0 : 1) : F((1 + stops[i].offset * h) / (h + 2)));
    }
    gp::Status status = stops.size() < 2 ? gp::Ok
                                         : gdip::GdipSetLinePresetBlend(
                                               brush, colours.data(), offsets.data(),
                                               static_cast<INT>(colours.size()));
    if (status == gp::Ok) status = gdip::GdipFillRectangle(graphics_, brush, F(x), F(y), F(w), F(h));
    gdip::GdipDeleteBrush(brush);
    Check(status, "Drawing");
  }

  void PushClip(double x, double y, double w, double h) override {
    gp::GraphicsState state = 0;
    Check(gdip::GdipSaveGraphics(graphics_, &state), "Clipping");
    clips_.push_back(state);
    Check(gdip::GdipSetClipRect(graphics_, F(x), F(y), F(w), F(h), gp::CombineModeIntersect),
          "Clipping");
  }

  void PopClip() override {
    if (clips_.empty()) return;
    gdip::GdipRestoreGraphics(graphics_, clips_.back());
    clips_.pop_back();
  }

  TextSize MeasureText(std::string_view text, DrawingFont font, double max_width,
                       Ellipsis ellipsis) override {
    const std::wstring shown = Fit(WideFromUtf8Lenient(text), font, max_width, ellipsis);
    return TextSize{Width(shown, font), LineHeight(font)};
  }

  void WriteText(std::string_view text, DrawingFont font, double x, double y, Colour colour,
                double max_width, Ellipsis ellipsis) override {
    const std::wstring shown = Fit(WideFromUtf8Lenient(text), font, max_width, ellipsis);
    if (shown.empty()) return;
    gp::GpSolidFill* brush = nullptr;
    Check(gdip::GdipCreateSolidFill(Argb(colour), &brush), "Drawing text");
    const gp::RectF box(F(x), F(y), 0, 0);  // no limit: one line from (x, y)
    const gp::Status status =
        gdip::GdipDrawString(graphics_, shown.c_str(), static_cast<INT>(shown.size()),
                             fonts_[Index(font)], &box, format_, brush);
    gdip::GdipDeleteBrush(brush);
    Check(status, "Drawing text");
  }

  std::string Jpeg() override {
    gdip::GdipFlush(graphics_, gp::FlushIntentionSync);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
      throw DrawingError("Cannot create a stream for the JPEG");
    }
    gp::EncoderParameters parameters{};
    ULONG quality = kJpegQuality;
    parameters.Count = 1;
    parameters.Parameter[0].Guid = kEncoderQuality;
    parameters.Parameter[0].NumberOfValues = 1;
    parameters.Parameter[0].Type = gp::EncoderParameterValueTypeLong;
    parameters.Parameter[0].Value = &quality;
    std::string jpeg;
    try {
      Check(gdip::GdipSaveImageToStream(bitmap_, stream, &JpegEncoder(), &parameters),
            "Encoding the JPEG");
      jpeg = StreamBytes(stream);
    } catch (...) {
      stream->Release();
      throw;
    }
    stream->Release();
    return jpeg;
  }

  std::shared_ptr<const DrawingBackground> AsBackground() override {
    gdip::GdipFlush(graphics_, gp::FlushIntentionSync);
    return std::make_shared<const DrawingBackground>(DrawingBackground{width_, height_, pixels_});
  }

  std::string Jpeg(const DrawingBackground& background) override {
    if (background.width != width_ || background.height != height_) {
      throw DrawingError("A JPEG encoder for pictures of another size");
    }
    return Jpeg();
  }

 private:
  // A 1-pixel pen, deleted with the object.
  class Pen {
   public:
    Pen(Colour colour, gp::LineCap cap, gp::LineJoin join) {
      Check(gdip::GdipCreatePen1(Argb(colour), 1, gp::UnitPixel, &pen_), "Drawing");
      gdip::GdipSetPenLineCap197819(pen_, cap, cap, gp::DashCapFlat);
      gdip::GdipSetPenLineJoin(pen_, join);
    }
    ~Pen() { gdip::GdipDeletePen(pen_); }
    Pen(const Pen&) = delete;
    Pen& operator=(const Pen&) = delete;
    gp::GpPen* get() const { return pen_; }

   private:
    gp::GpPen* pen_ = nullptr;
  };

  static gp::REAL F(double v) { return static_cast<gp::REAL>(v); }
  static size_t Index(DrawingFont font) { return font == DrawingFont::kTitle ? 0 : 1; }

  void StrokeRuns(const Polylines& lines, gp::GpPen* pen) {
    std::vector<gp::GpPointF> points;
    for (const std::vector<PointF>& run : lines) {
      if (run.size() < 2) continue;
      points.clear();
      for (const PointF& p : run) points.push_back(gp::GpPointF{F(p.x), F(p.y)});
      Check(gdip::GdipDrawLines(graphics_, pen, points.data(), static_cast<INT>(points.size())),
            "Drawing");
    }
  }

  // Arial at the charts' sizes; the system's sans-serif face where Arial
  // is missing. Text is measured without GDI+'s padding on either side.
  void OpenFonts() {
    if (gdip::GdipCreateFontFamilyFromName(L"Arial", nullptr, &family_) != gp::Ok) {
      gp::GpFontFamily* generic = nullptr;
      Check(gdip::GdipGetGenericFontFamilySansSerif(&generic), "Finding a font");
      Check(gdip::GdipCloneFontFamily(generic, &family_), "Finding a font");
    }
    const gp::REAL points[2] = {10, 8};
    for (size_t i = 0; i < 2; ++i) {
      Check(gdip::GdipCreateFont(family_, points[i], gp::FontStyleRegular, gp::UnitPoint,
                                 &fonts_[i]),
            "Opening the font");
      gp::REAL height = 0;
      Check(gdip::GdipGetFontHeight(fonts_[i], graphics_, &height), "Opening the font");
      line_heights_[i] = std::ceil(height);
    }
    gp::GpStringFormat* typographic = nullptr;
    Check(gdip::GdipStringFormatGetGenericTypographic(&typographic), "Opening the font");
    Check(gdip::GdipCloneStringFormat(typographic, &format_), "Opening the font");
    gdip::GdipSetStringFormatFlags(
        format_, gp::StringFormatFlagsNoWrap | gp::StringFormatFlagsMeasureTrailingSpaces |
                     gp::StringFormatFlagsNoClip);
  }

  void Release() {
    if (format_ != nullptr) gdip::GdipDeleteStringFormat(format_);
    for (gp::GpFont* font : fonts_) {
      if (font != nullptr) gdip::GdipDeleteFont(font);
    }
    if (family_ != nullptr) gdip::GdipDeleteFontFamily(family_);
    if (graphics_ != nullptr) gdip::GdipDeleteGraphics(graphics_);
    if (bitmap_ != nullptr) gdip::GdipDisposeImage(bitmap_);
  }

  double LineHeight(DrawingFont font) const { return line_heights_[Index(font)]; }

  double Width(const std::wstring& text, DrawingFont font) {
    if (text.empty()) return 0;
    const gp::RectF layout(0, 0, 0, 0);
    gp::RectF bounds;
    Check(gdip::GdipMeasureString(graphics_, text.c_str(), static_cast<INT>(text.size()),
                                  fonts_[Index(font)], &layout, format_, &bounds, nullptr, nullptr),
          "Measuring text");
    return std::ceil(bounds.Width);
  }

  // The text as shown in max_width: whole when it fits, else with as many
  // characters as fit replaced by an ellipsis at its end or in its middle.
  std::wstring Fit(const std::wstring& text, DrawingFont font, double max_width,
                   Ellipsis ellipsis) {
    if (max_width <= 0 || Width(text, font) <= max_width) return text;
    const auto shortened = [&](size_t keep) {
      size_t head = ellipsis == Ellipsis::kEnd ? keep : (keep + 1) / 2;
      size_t tail = keep - head;
      // Never split a surrogate pair.
      if (head > 0 && IS_HIGH_SURROGATE(text[head - 1])) --head;
      if (tail > 0 && IS_LOW_SURROGATE(text[text.size() - tail])) --tail;
      return text.substr(0, head) + kEllipsis + text.substr(text.size() - tail);
    };
    size_t low = 0, high = text.size();  // shortened(low) is the answer so far
    while (low < high) {
      const size_t mid = (low + high + 1) / 2;
      if (Width(shortened(mid), font) <= max_width) {
        low = mid;
      } else {
        high = mid - 1;
      }
    }
    return shortened(low);
  }

  int width_;
  int height_;
  std::vector<uint8_t> pixels_;  // the bitmap's
  gp::GpBitmap* bitmap_ = nullptr;
  gp::GpGraphics* graphics_ = nullptr;
  gp::GpFontFamily* family_ = nullptr;
  gp::GpFont* fonts_[2] = {nullptr, nullptr};
  double line_heights_[2] = {0, 0};
  gp::GpStringFormat* format_ = nullptr;
  std::vector<gp::GraphicsState> clips_;
};

}  // namespace

std::unique_ptr<DrawingCanvas> NewGdiplusCanvas(int width, int height,
                                                std::shared_ptr<const DrawingBackground> background) {
  const std::string picture =
      "a " + std::to_string(width) + " x " + std::to_string(height) + " picture";
  // Far beyond any chart, and a row's bytes stay within an INT.
  constexpr int kMaxSide = 1 << 16;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<int64_t>(width) * height > (int64_t{1} << 28)) {
    throw DrawingError("Cannot create " + picture);
  }
  std::vector<uint8_t> pixels;
  if (background) {
    if (background->width != width || background->height != height) {
      throw DrawingError("Cannot create " + picture + " from a background of another size");
    }
    pixels = background->pixels;
  } else {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * kPixelBytes, 0xFF);
  }
  return std::make_unique<GdiplusCanvas>(width, height, std::move(pixels));
}

}  // namespace quarrin
