// The chart canvas of cairo and pango, encoded with libjpeg.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "disk/chart_canvas.h"
#include "disk/jpeg_encoder.h"

namespace quarrin {

// The first picture's pixels with their encoder, read-only once made.
struct DrawingBackground {
  BackgroundJpegEncoder encoder;
};

namespace {

// A font map with its context and the two font descriptions. Pango objects
// are not safe for concurrent use, so an entry belongs to one canvas at a
// time; handing it over through the pool's mutex orders the uses.
struct Fonts {
  PangoFontMap* font_map = nullptr;
  PangoContext* context = nullptr;
  PangoFontDescription* title = nullptr;
  PangoFontDescription* axis = nullptr;
  // Advance widths of the printable ASCII characters in the two fonts,
  // measured when first needed; negative until then.
  std::array<std::array<double, 128>, 2> advance;
};

// Entries live until ReleaseChartFonts: there are never more than the
// largest number of charts drawn at once, and loading the fonts again for
// every chart would cost more than the chart itself.
std::mutex pool_mutex;
std::vector<Fonts*>& FreeFonts() {
  static auto* free_fonts = new std::vector<Fonts*>;
  return *free_fonts;
}

Fonts* NewFonts() {
  auto* f = new Fonts;
  f->font_map = pango_cairo_font_map_new();
  f->context = pango_font_map_create_context(f->font_map);
  // Pixels of a 96 dpi screen, so that 10 pt text is 13 px high as in a
  // desktop chart.
  pango_cairo_context_set_resolution(f->context, 96.0);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  pango_cairo_context_set_font_options(f->context, options);
  cairo_font_options_destroy(options);
  f->title = pango_font_description_from_string("Arial 10");
  f->axis = pango_font_description_from_string("Arial 8");
  for (auto& widths : f->advance) widths.fill(-1);
  return f;
}

Fonts* LeaseFonts() {
  std::lock_guard lock(pool_mutex);
  std::vector<Fonts*>& free_fonts = FreeFonts();
  if (free_fonts.empty()) return NewFonts();
  Fonts* f = free_fonts.back();
  free_fonts.pop_back();
  return f;
}

void ReturnFonts(Fonts* f) {
  std::lock_guard lock(pool_mutex);
  FreeFonts().push_back(f);
}

void DeleteFonts(Fonts* f) {
  pango_font_description_free(f->axis);
  pango_font_description_free(f->title);
  g_object_unref(f->context);
  g_object_unref(f->font_map);
  delete f;
}

int Stride(int width) { return cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width); }

// The bytes of a width x height picture; 0 for an impossible size.
size_t PictureBytes(int width, int height) {
  if (Stride(width) < 0 || height < 0) return 0;
  return static_cast<size_t>(Stride(width)) * static_cast<size_t>(height);
}

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

class CairoCanvas final : public DrawingCanvas {
 public:
  CairoCanvas(int width, int height, std::vector<uint8_t> pixels)
      : width_(width), height_(height), pixels_(std::move(pixels)) {
    const std::string picture =
        "a " + std::to_string(width) + " x " + std::to_string(height) + " picture";
    if (pixels_.empty() || pixels_.size() != PictureBytes(width, height)) {
      throw DrawingError("Cannot create " + picture + " from " + std::to_string(pixels_.size()) +
                         " bytes");
    }
    surface_ = cairo_image_surface_create_for_data(pixels_.data(), CAIRO_FORMAT_RGB24, width,
                                                   height, Stride(width));
    cr_ = cairo_create(surface_);
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
      const std::string reason = cairo_status_to_string(cairo_status(cr_));
      cairo_destroy(cr_);
      cairo_surface_destroy(surface_);
      throw DrawingError("Cannot create " + picture + ": " + reason);
    }
    cairo_set_line_width(cr_, 1);
    fonts_ = LeaseFonts();
    pango_cairo_update_context(cr_, fonts_->context);
  }
  ~CairoCanvas() override {
    ReturnFonts(fonts_);
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  int width() const override { return width_; }
  int height() const override { return height_; }

  void StrokeLines(const Polylines& lines, Colour colour) override {
    AddLines(lines);
    SetColour(colour);
    cairo_stroke(cr_);
  }

  void StrokeSharpLines(const Polylines& lines, Colour colour) override {
    cairo_save(cr_);
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_BEVEL);
    StrokeLines(lines, colour);
    cairo_restore(cr_);
  }

  void StrokeRectangle(double x, double y, double w, double h, Colour colour) override {
    cairo_rectangle(cr_, x, y, w, h);
    SetColour(colour);
    cairo_stroke(cr_);
  }

  void FillRectangle(double x, double y, double w, double h, Colour colour) override {
    cairo_rectangle(cr_, x, y, w, h);
    SetColour(colour);
    cairo_fill(cr_);
  }

  void FillGradient(double x, double y, double w, double h,
                    const std::vector<GradientStop>& stops) override {
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, y, 0, y + h);
    for (const GradientStop& stop : stops) {
      cairo_pattern_add_color_stop_rgb(gradient, stop.offset, stop.colour.r, stop.colour.g,
                                       stop.colour.b);
    }
    cairo_rectangle(cr_, x, y, w, h);
    cairo_set_source(cr_, gradient);
    cairo_fill(cr_);
    cairo_pattern_destroy(gradient);
  }

  void PushClip(double x, double y, double w, double h) override {
    cairo_save(cr_);
    cairo_rectangle(cr_, x, y, w, h);
    cairo_clip(cr_);
  }

  void PopClip() override { cairo_restore(cr_); }

  TextSize MeasureText(std::string_view text, DrawingFont font, double max_width,
                       Ellipsis ellipsis) override {
    return Size(Layout(text, font, max_width, ellipsis).get());
  }

  void WriteText(std::string_view text, DrawingFont font, double x, double y, Colour colour,
                double max_width, Ellipsis ellipsis) override {
    LayoutPtr layout = Layout(text, font, max_width, ellipsis);
    SetColour(colour);
    cairo_move_to(cr_, x, y);
    pango_cairo_show_layout(cr_, layout.get());
    cairo_new_path(cr_);
  }

  double EstimateWidth(std::string_view text, DrawingFont font) override {
    std::array<double, 128>& widths = fonts_->advance[font == DrawingFont::kTitle ? 0 : 1];
    double sum = 0;
    for (char ch : text) {
      const auto code = static_cast<unsigned char>(ch);
      if (code < 0x20 || code >= 0x7F) return -1;
      if (widths[code] < 0) {
        // A character alone: its logical width is its advance.
        PangoRectangle logical;
        pango_layout_get_extents(Layout(std::string_view(&ch, 1), font, 0, Ellipsis::kEnd).get(),
                                 nullptr, &logical);
        widths[code] = static_cast<double>(logical.width) / PANGO_SCALE;
      }
      sum += widths[code];
    }
    return sum;
  }

  std::string Jpeg() override {
    Flush();
    return EncodeJpeg(pixels_.data(), width_, height_, Stride(width_), 75);
  }

  std::shared_ptr<const DrawingBackground> AsBackground() override {
    Flush();
    return std::make_shared<const DrawingBackground>(
        DrawingBackground{BackgroundJpegEncoder(pixels_, width_, height_, Stride(width_), 75)});
  }

  std::string Jpeg(const DrawingBackground& background) override {
    if (background.encoder.background().size() != pixels_.size()) {
      throw DrawingError("A JPEG encoder for pictures of another size");
    }
    Flush();
    return background.encoder.Encode(pixels_.data());
  }

 private:
  void SetColour(Colour c) { cairo_set_source_rgb(cr_, c.r, c.g, c.b); }

  void AddLines(const Polylines& lines) {
    for (const std::vector<PointF>& run : lines) {
      for (size_t i = 0; i < run.size(); ++i) {
        if (i == 0) {
          cairo_move_to(cr_, run[i].x, run[i].y);
        } else {
          cairo_line_to(cr_, run[i].x, run[i].y);
        }
      }
    }
  }

  // One line of text in the font, shortened to max_width when wider.
  LayoutPtr Layout(std::string_view text, DrawingFont font, double max_width,
                   Ellipsis ellipsis) const {
    LayoutPtr layout(pango_layout_new(fonts_->context));
    pango_layout_set_font_description(layout.get(),
                                      font == DrawingFont::kTitle ? fonts_->title : fonts_->axis);
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    // Folder names and titles are bytes; pango takes UTF-8 only, so any
    // invalid sequence is shown as U+FFFD.
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
      pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    } else {
      gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
      pango_layout_set_text(layout.get(), valid, -1);
      g_free(valid);
    }
    if (max_width > 0 && Size(layout.get()).width > max_width) {
      pango_layout_set_width(layout.get(), static_cast<int>(max_width) * PANGO_SCALE);
      pango_layout_set_ellipsize(layout.get(), ellipsis == Ellipsis::kEnd ? PANGO_ELLIPSIZE_END
                                                                          : PANGO_ELLIPSIZE_MIDDLE);
    }
    return layout;
  }

  static TextSize Size(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    return TextSize{static_cast<double>(logical.width), static_cast<double>(logical.height)};
  }

  // Throws DrawingError when cairo has failed on the way.
  void Flush() {
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
      throw DrawingError(std::string("Drawing the chart failed: ") +
                         cairo_status_to_string(cairo_status(cr_)));
    }
    cairo_surface_flush(surface_);
  }

  int width_;
  int height_;
  std::vector<uint8_t> pixels_;  // the surface's
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  Fonts* fonts_ = nullptr;  // leased from the pool
};

}  // namespace

std::unique_ptr<DrawingCanvas> NewChartCanvas(int width, int height,
                                              std::shared_ptr<const DrawingBackground> background) {
  std::vector<uint8_t> pixels = background ? background->encoder.background()
                                           : std::vector<uint8_t>(PictureBytes(width, height), 0xFF);
  return std::make_unique<CairoCanvas>(width, height, std::move(pixels));
}

void ReleaseChartFonts() {
  std::lock_guard lock(pool_mutex);
  for (Fonts* f : FreeFonts()) DeleteFonts(f);
  FreeFonts().clear();
}

}  // namespace quarrin
