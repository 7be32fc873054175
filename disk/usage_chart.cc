#include "disk/usage_chart.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "disk/chart_canvas.h"

namespace quarrin {

namespace {

// The plot: pixel columns kLeft..kRight carry x = 0..300, pixel rows
// kBottom..kTop carry 0..100 %, so a tenth of the height is a whole 32
// rows and the grid lines fall on pixel rows.
constexpr int kLeft = 48;
constexpr int kRight = 756;
constexpr int kTop = 30;
constexpr int kBottom = 350;
constexpr double kMaxX = 300;
constexpr double kMaxY = 100;
constexpr int kTick = 4;
constexpr double kLabelGap = 10;  // least free space between two x labels

// The centre of the pixel column or row nearest to a coordinate: 1-pixel
// lines drawn through pixel centres cover exactly one pixel.
double PixelCentre(double v) { return std::floor(v + 0.5) + 0.5; }

double PlotX(double x) { return kLeft + x * (kRight - kLeft) / kMaxX; }
double PlotY(double y) { return kBottom - y * (kBottom - kTop) / kMaxY; }

struct Point {
  double x, y;
};

// Liang-Barsky: trims the segment a-b to the rectangle; false when nothing
// of it lies inside.
bool ClipSegment(Point* a, Point* b, double x0, double y0, double x1, double y1) {
  const double dx = b->x - a->x;
  const double dy = b->y - a->y;
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a->x - x0, x1 - a->x, a->y - y0, y1 - a->y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  const Point start{a->x + t0 * dx, a->y + t0 * dy};
  const Point end{a->x + t1 * dx, a->y + t1 * dy};
  *a = start;
  *b = end;
  return true;
}

void SetGrey(cairo_t* cr, double level) { cairo_set_source_rgb(cr, level, level, level); }

void HorizontalLine(cairo_t* cr, double x0, double x1, int row) {
  cairo_move_to(cr, x0, row + 0.5);
  cairo_line_to(cr, x1, row + 0.5);
}

void VerticalLine(cairo_t* cr, double column_centre, double y0, double y1) {
  cairo_move_to(cr, column_centre, y0);
  cairo_line_to(cr, column_centre, y1);
}

// Grid, frame, ticks and the numbers of the vertical axis.
void DrawValueAxis(const ChartCanvas& canvas) {
  cairo_t* cr = canvas.cr();
  cairo_set_line_width(cr, 1);
  SetGrey(cr, 0.87);
  for (int pct = 10; pct < 100; pct += 10) {
    HorizontalLine(cr, kLeft, kRight + 1, static_cast<int>(PlotY(pct)));
  }
  cairo_stroke(cr);

  SetGrey(cr, 0.25);
  for (int pct = 0; pct <= 100; pct += 10) {
    HorizontalLine(cr, kLeft - kTick, kLeft, static_cast<int>(PlotY(pct)));
  }
  cairo_stroke(cr);

  for (int pct = 0; pct <= 100; pct += 10) {
    LayoutPtr layout = canvas.Layout(std::to_string(pct) + "%", ChartFont::kAxis);
    double w = 0, h = 0;
    ChartCanvas::Size(layout.get(), &w, &h);
    canvas.Draw(layout.get(), kLeft - kTick - 3 - w, PlotY(pct) + 0.5 - h / 2);
  }

  SetGrey(cr, 0.6);
  cairo_rectangle(cr, kLeft + 0.5, kTop + 0.5, kRight - kLeft, kBottom - kTop);
  cairo_stroke(cr);
  SetGrey(cr, 0.25);
  cairo_move_to(cr, kLeft + 0.5, kTop);
  cairo_line_to(cr, kLeft + 0.5, kBottom + 0.5);
  cairo_line_to(cr, kRight + 1, kBottom + 0.5);
  cairo_stroke(cr);
}

// The white picture with the value axis, the grid and the frame: the same
// in every chart, so drawn and compressed once, and only the parts that a
// chart draws over it compressed again. Read-only once made, and so safe
// to use from any thread.
const BackgroundJpegEncoder& Background() {
  static const BackgroundJpegEncoder background = [] {
    ChartCanvas canvas(kUsageChartWidth, kUsageChartHeight);
    DrawValueAxis(canvas);
    return canvas.AsBackground();
  }();
  return background;
}

// The point labels of the horizontal axis, left to right, each one that
// does not come closer than kLabelGap to the one shown before it, with a
// tick and a faint grid line at its point.
// Without points the axis shows its range as numbers instead.
void DrawPointLabels(const ChartCanvas& canvas, const std::vector<std::string>& point_labels) {
  cairo_t* cr = canvas.cr();
  constexpr size_t kPoints = static_cast<size_t>(kMaxX) + 1;
  std::vector<std::string> numbers;
  if (point_labels.empty()) {
    numbers.resize(kPoints);
    for (size_t x = 0; x < kPoints; x += 50) numbers[x] = std::to_string(x);
  }
  const std::vector<std::string>& shown = point_labels.empty() ? numbers : point_labels;
  const size_t last = std::min(shown.size(), kPoints);
  double shown_right = -1e9;
  std::vector<double> ticks;
  for (size_t i = 0; i < last; ++i) {
    const double centre = PixelCentre(PlotX(static_cast<double>(i)));
    // A label has some width, so one whose centre is not clear of the last
    // one shown cannot fit; skip it without laying it out.
    if (shown[i].empty() || centre < shown_right + kLabelGap) continue;
    std::string text = shown[i];
    std::replace(text.begin(), text.end(), '_', ' ');
    // The advances tell the width without a layout, bar kerning, which
    // only narrows digits and separators if anything: decide on them and
    // lay out only the labels shown. Other text is measured exactly.
    double w = canvas.EstimateWidth(text, ChartFont::kAxis);
    if (w >= 0 && std::floor(centre - w / 2) < shown_right + kLabelGap) continue;
    LayoutPtr layout = canvas.Layout(text, ChartFont::kAxis);
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    double h = 0;
    ChartCanvas::Size(layout.get(), &w, &h);
    const double left = std::floor(centre - w / 2);
    if (left < shown_right + kLabelGap || left < 0 || left + w > canvas.width()) continue;
    SetGrey(cr, 0.0);
    canvas.Draw(layout.get(), left, kBottom + kTick + 3);
    shown_right = left + w;
    ticks.push_back(centre);
  }
  cairo_set_line_width(cr, 1);
  SetGrey(cr, 0.93);
  for (double x : ticks) {
    if (x > kLeft + 1 && x < kRight) VerticalLine(cr, x, kTop + 1, kBottom);
  }
  // Under the horizontal grid lines where they cross, as if drawn first.
  cairo_set_operator(cr, CAIRO_OPERATOR_DARKEN);
  cairo_stroke(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  SetGrey(cr, 0.25);
  for (double x : ticks) VerticalLine(cr, x, kBottom + 1, kBottom + 1 + kTick);
  cairo_stroke(cr);
}

// The red polyline through the finite points, clipped to the plot.
void DrawSeries(cairo_t* cr, const std::vector<double>& values, size_t count) {
  // Only the points up to x = 301 can reach the plot: point 301 still
  // decides where the segment from point 300 leaves it.
  const size_t last = std::min(count, static_cast<size_t>(kMaxX) + 2);
  // Heights beyond +-10^7 % are far off the plot: clamping them moves the
  // visible part of a segment by less than a thousandth of a pixel, and
  // keeps the arithmetic finite.
  constexpr double kFar = 1e7;
  cairo_save(cr);
  cairo_rectangle(cr, kLeft, kTop, kRight + 1 - kLeft, kBottom + 1 - kTop);
  cairo_clip(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1);
  // Square caps cover the end points' own pixels; bevelled joins do the
  // same at the bends without the polygons of round ones.
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
  cairo_set_source_rgb(cr, 1, 0, 0);
  bool have_end = false;
  Point end{0, 0};
  for (size_t i = 0; i + 1 < last; ++i) {
    const double v0 = values[i];
    const double v1 = values[i + 1];
    if (!std::isfinite(v0) || !std::isfinite(v1)) {
      have_end = false;
      continue;
    }
    Point a{PixelCentre(PlotX(static_cast<double>(i))),
            PixelCentre(PlotY(std::clamp(v0, -kFar, kFar)))};
    Point b{PixelCentre(PlotX(static_cast<double>(i + 1))),
            PixelCentre(PlotY(std::clamp(v1, -kFar, kFar)))};
    if (!ClipSegment(&a, &b, kLeft - 1, kTop - 1, kRight + 2, kBottom + 2)) {
      have_end = false;
      continue;
    }
    if (!have_end || a.x != end.x || a.y != end.y) cairo_move_to(cr, a.x, a.y);
    cairo_line_to(cr, b.x, b.y);
    end = b;
    have_end = true;
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

}  // namespace

PlotArea UsageChartPlot() { return PlotArea{kLeft, kTop, kRight, kBottom}; }

std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                      const std::vector<double>& values) {
  if (values.size() < labels.size()) {
    throw std::invalid_argument("DrawChart: " + std::to_string(labels.size()) + " labels but " +
                                std::to_string(values.size()) + " values");
  }
  const BackgroundJpegEncoder& background = Background();
  ChartCanvas canvas(kUsageChartWidth, kUsageChartHeight, background.background());
  canvas.DrawTitle(title);
  DrawPointLabels(canvas, labels);
  DrawSeries(canvas.cr(), values, labels.size());
  return canvas.Jpeg(background);
}

}  // namespace quarrin
