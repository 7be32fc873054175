// A white picture to draw a chart on with cairo and pango, encoded as JPEG
// at the end. Shared by the usage chart and the disk map.
#ifndef QUARRIN_DISK_CHART_CANVAS_H_
#define QUARRIN_DISK_CHART_CANVAS_H_

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "disk/jpeg_encoder.h"

namespace quarrin {

// A chart that could not be drawn or encoded.
class ChartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fonts the charts use. Arial resolves to a metric-compatible face
// (Liberation Sans) through fontconfig where Arial itself is missing.
enum class ChartFont {
  kTitle,  // Arial 10 pt
  kAxis,   // Arial 8 pt, for axis numbers and labels
};

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

// One picture. Text is laid out with a font map that no other canvas uses
// at the same time: font maps are taken from a process-wide pool and given
// back on destruction, so the fonts are loaded once per pool entry, not per
// chart, and canvases on different threads never share pango state.
class ChartCanvas {
 public:
  // width x height pixels of 24-bit colour, all white.
  ChartCanvas(int width, int height);
  // The same with the pixels of an earlier picture of that size, as kept by
  // BackgroundJpegEncoder: a part of a picture that never changes can be
  // drawn once and start every later one.
  ChartCanvas(int width, int height, std::vector<uint8_t> pixels);
  ~ChartCanvas();
  ChartCanvas(const ChartCanvas&) = delete;
  ChartCanvas& operator=(const ChartCanvas&) = delete;

  cairo_t* cr() const { return cr_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // A one-line layout of text in the font; blanks and newlines kept as
  // given (callers pass single lines).
  LayoutPtr Layout(std::string_view text, ChartFont font) const;
  // Its logical size in pixels.
  static void Size(PangoLayout* layout, double* width, double* height);
  // The width in pixels of text in the font.
  double TextWidth(std::string_view text, ChartFont font) const;
  // The sum of the advance widths of the characters of text, which differs
  // from TextWidth only by kerning (a pixel or two), for a fraction of its
  // cost; -1 when text holds anything but printable ASCII.
  double EstimateWidth(std::string_view text, ChartFont font) const;
  // Draws the layout with its top-left corner at (x, y) in the source
  // colour of the cairo context.
  void Draw(PangoLayout* layout, double x, double y) const;

  // The title of a chart: one line, centred at the top, black, in the
  // title font; a title wider than the picture loses its end to an ellipsis.
  void DrawTitle(std::string_view title) const;

  // Throws ChartError when cairo has failed on the way.
  void CheckStatus() const;
  // The picture as a baseline JPEG at quality 75.
  std::string Jpeg() const;
  // An encoder with the picture as it stands as the background, and the
  // same JPEG of a later picture drawn over it; the later picture must be
  // of the same size.
  BackgroundJpegEncoder AsBackground() const;
  std::string Jpeg(const BackgroundJpegEncoder& encoder) const;

  // The pooled pango state; opaque outside chart_canvas.cc.
  struct Fonts;

 private:
  int width_;
  int height_;
  std::vector<uint8_t> pixels_;  // the surface's
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  Fonts* fonts_ = nullptr;  // leased from the pool
};

}  // namespace quarrin

#endif  // QUARRIN_DISK_CHART_CANVAS_H_
