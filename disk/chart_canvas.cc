#include "disk/chart_canvas.h"

#include <array>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace quarrin {

// A font map with its context and the two font descriptions. Pango objects
// are not safe for concurrent use, so an entry belongs to one canvas at a
// time; handing it over through the pool's mutex orders the uses.
struct ChartCanvas::Fonts {
  PangoFontMap* font_map = nullptr;
  PangoContext* context = nullptr;
  PangoFontDescription* title = nullptr;
  PangoFontDescription* axis = nullptr;
  // Advance widths of the printable ASCII characters in the two fonts,
  // measured when first needed; negative until then.
  std::array<std::array<double, 128>, 2> advance;
};

namespace {

// Entries live as long as the process: there are never more than the
// largest number of charts drawn at once, and loading the fonts again for
// every chart would cost more than the chart itself.
std::mutex pool_mutex;
std::vector<ChartCanvas::Fonts*>& FreeFonts() {
  static auto* free_fonts = new std::vector<ChartCanvas::Fonts*>;
  return *free_fonts;
}

ChartCanvas::Fonts* NewFonts() {
  auto* f = new ChartCanvas::Fonts;
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

ChartCanvas::Fonts* LeaseFonts() {
  std::lock_guard lock(pool_mutex);
  std::vector<ChartCanvas::Fonts*>& free_fonts = FreeFonts();
  if (free_fonts.empty()) return NewFonts();
  ChartCanvas::Fonts* f = free_fonts.back();
  free_fonts.pop_back();
  return f;
}

void ReturnFonts(ChartCanvas::Fonts* f) {
  std::lock_guard lock(pool_mutex);
  FreeFonts().push_back(f);
}

int Stride(int width) { return cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width); }

// The bytes of a width x height picture; 0 for an impossible size.
size_t PictureBytes(int width, int height) {
  if (Stride(width) < 0 || height < 0) return 0;
  return static_cast<size_t>(Stride(width)) * static_cast<size_t>(height);
}

}  // namespace

ChartCanvas::ChartCanvas(int width, int height)
    : ChartCanvas(width, height, std::vector<uint8_t>(PictureBytes(width, height), 0xFF)) {}

ChartCanvas::ChartCanvas(int width, int height, std::vector<uint8_t> pixels)
    : width_(width), height_(height), pixels_(std::move(pixels)) {
  const std::string picture =
      "a " + std::to_string(width) + " x " + std::to_string(height) + " picture";
  if (pixels_.empty() || pixels_.size() != PictureBytes(width, height)) {
    throw ChartError("Cannot create " + picture + " from " + std::to_string(pixels_.size()) +
                     " bytes");
  }
  surface_ = cairo_image_surface_create_for_data(pixels_.data(), CAIRO_FORMAT_RGB24, width, height,
                                                 Stride(width));
  cr_ = cairo_create(surface_);
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
    const std::string reason = cairo_status_to_string(cairo_status(cr_));
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
    throw ChartError("Cannot create " + picture + ": " + reason);
  }
  fonts_ = LeaseFonts();
  pango_cairo_update_context(cr_, fonts_->context);
}

ChartCanvas::~ChartCanvas() {
  ReturnFonts(fonts_);
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

LayoutPtr ChartCanvas::Layout(std::string_view text, ChartFont font) const {
  LayoutPtr layout(pango_layout_new(fonts_->context));
  pango_layout_set_font_description(layout.get(),
                                    font == ChartFont::kTitle ? fonts_->title : fonts_->axis);
  // Folder names and titles are bytes; pango takes UTF-8 only, so any
  // invalid sequence is shown as U+FFFD.
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
  } else {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    pango_layout_set_text(layout.get(), valid, -1);
    g_free(valid);
  }
  return layout;
}

void ChartCanvas::Size(PangoLayout* layout, double* width, double* height) {
  PangoRectangle logical;
  pango_layout_get_pixel_extents(layout, nullptr, &logical);
  *width = logical.width;
  *height = logical.height;
}

double ChartCanvas::TextWidth(std::string_view text, ChartFont font) const {
  double w = 0, h = 0;
  Size(Layout(text, font).get(), &w, &h);
  return w;
}

double ChartCanvas::EstimateWidth(std::string_view text, ChartFont font) const {
  std::array<double, 128>& widths = fonts_->advance[font == ChartFont::kTitle ? 0 : 1];
  double sum = 0;
  for (char ch : text) {
    const auto code = static_cast<unsigned char>(ch);
    if (code < 0x20 || code >= 0x7F) return -1;
    if (widths[code] < 0) {
      // A character alone: its logical width is its advance.
      PangoRectangle logical;
      pango_layout_get_extents(Layout(std::string_view(&ch, 1), font).get(), nullptr, &logical);
      widths[code] = static_cast<double>(logical.width) / PANGO_SCALE;
    }
    sum += widths[code];
  }
  return sum;
}

void ChartCanvas::Draw(PangoLayout* layout, double x, double y) const {
  cairo_move_to(cr_, x, y);
  pango_cairo_show_layout(cr_, layout);
  cairo_new_path(cr_);
}

void ChartCanvas::DrawTitle(std::string_view title) const {
  LayoutPtr layout = Layout(title, ChartFont::kTitle);
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  double w = 0, h = 0;
  Size(layout.get(), &w, &h);
  const int room = width_ - 10;
  if (w > room) {
    pango_layout_set_width(layout.get(), room * PANGO_SCALE);
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    w = room;
  }
  cairo_set_source_rgb(cr_, 0, 0, 0);
  Draw(layout.get(), std::floor((width_ - w) / 2), 6);
}

void ChartCanvas::CheckStatus() const {
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
    throw ChartError(std::string("Drawing the chart failed: ") +
                     cairo_status_to_string(cairo_status(cr_)));
  }
}

std::string ChartCanvas::Jpeg() const {
  CheckStatus();
  cairo_surface_flush(surface_);
  return EncodeJpeg(pixels_.data(), width_, height_, Stride(width_), 75);
}

BackgroundJpegEncoder ChartCanvas::AsBackground() const {
  CheckStatus();
  cairo_surface_flush(surface_);
  return BackgroundJpegEncoder(pixels_, width_, height_, Stride(width_), 75);
}

std::string ChartCanvas::Jpeg(const BackgroundJpegEncoder& encoder) const {
  if (encoder.background().size() != pixels_.size()) {
    throw ChartError("A JPEG encoder for pictures of another size");
  }
  CheckStatus();
  cairo_surface_flush(surface_);
  return encoder.Encode(pixels_.data());
}

}  // namespace quarrin
