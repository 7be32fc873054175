#include "disk/usage_chart.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
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

// The run of a 1-pixel horizontal line on pixel row `row`.
std::vector<PointF> HorizontalLine(double x0, double x1, int row) {
  return {{x0, row + 0.5}, {x1, row + 0.5}};
}

// The rows of the horizontal grid lines, bottom up.
std::vector<int> GridRows() {
  std::vector<int> rows;
  for (int pct = 10; pct < 100; pct += 10) rows.push_back(static_cast<int>(PlotY(pct)));
  return rows;
}

// Grid, frame, ticks and the numbers of the vertical axis.
void DrawValueAxis(DrawingCanvas& canvas) {
  Polylines grid;
  for (int row : GridRows()) grid.push_back(HorizontalLine(kLeft, kRight + 1, row));
  canvas.StrokeLines(grid, Grey(0.87));

  Polylines ticks;
  for (int pct = 0; pct <= 100; pct += 10) {
    ticks.push_back(HorizontalLine(kLeft - kTick, kLeft, static_cast<int>(PlotY(pct))));
  }
  canvas.StrokeLines(ticks, Grey(0.25));

  for (int pct = 0; pct <= 100; pct += 10) {
    const std::string text = std::to_string(pct) + "%";
    const TextSize size = canvas.MeasureText(text, DrawingFont::kAxis);
    canvas.WriteText(text, DrawingFont::kAxis, kLeft - kTick - 3 - size.width,
                    PlotY(pct) + 0.5 - size.height / 2, Grey(0.25));
  }

  canvas.StrokeRectangle(kLeft + 0.5, kTop + 0.5, kRight - kLeft, kBottom - kTop, Grey(0.6));
  canvas.StrokeLines({{{kLeft + 0.5, kTop}, {kLeft + 0.5, kBottom + 0.5}, {kRight + 1, kBottom + 0.5}}},
                     Grey(0.25));
}

// The white picture with the value axis, the grid and the frame: the same
// in every chart, so drawn and compressed once, and only the parts that a
// chart draws over it compressed again. Read-only once made, and so safe
// to use from any thread.
const std::shared_ptr<const DrawingBackground>& Background() {
  static const std::shared_ptr<const DrawingBackground> background = [] {
    std::unique_ptr<DrawingCanvas> canvas = NewChartCanvas(kUsageChartWidth, kUsageChartHeight);
    DrawValueAxis(*canvas);
    return canvas->AsBackground();
  }();
  return background;
}

// The point labels of the horizontal axis, left to right, each one that
// does not come closer than kLabelGap to the one shown before it, with a
// tick and a faint grid line at its point.
// Without points the axis shows its range as numbers instead.
void DrawPointLabels(DrawingCanvas& canvas, const std::vector<std::string>& point_labels) {
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
    // measure only the labels shown. Other text is measured exactly.
    const double estimate = canvas.EstimateWidth(text, DrawingFont::kAxis);
    if (estimate >= 0 && std::floor(centre - estimate / 2) < shown_right + kLabelGap) continue;
    const double w = canvas.MeasureText(text, DrawingFont::kAxis).width;
    const double left = std::floor(centre - w / 2);
    if (left < shown_right + kLabelGap || left < 0 || left + w > canvas.width()) continue;
    canvas.WriteText(text, DrawingFont::kAxis, left, kBottom + kTick + 3, Grey(0.0));
    shown_right = left + w;
    ticks.push_back(centre);
  }
  // The faint lines stop short of the horizontal grid lines, which stay on
  // top where they cross.
  const std::vector<int> rows = GridRows();
  Polylines faint;
  for (double x : ticks) {
    if (x <= kLeft + 1 || x >= kRight) continue;
    double bottom = kBottom;
    for (int row : rows) {
      faint.push_back({{x, static_cast<double>(row + 1)}, {x, bottom}});
      bottom = row;
    }
    faint.push_back({{x, static_cast<double>(kTop + 1)}, {x, bottom}});
  }
  canvas.StrokeLines(faint, Grey(0.93));
  Polylines tick_lines;
  for (double x : ticks) tick_lines.push_back({{x, kBottom + 1}, {x, kBottom + 1 + kTick}});
  canvas.StrokeLines(tick_lines, Grey(0.25));
}

// The red polyline through the finite points, clipped to the plot.
void DrawSeries(DrawingCanvas& canvas, const std::vector<double>& values, size_t count) {
  // Only the points up to x = 301 can reach the plot: point 301 still
  // decides where the segment from point 300 leaves it.
  const size_t last = std::min(count, static_cast<size_t>(kMaxX) + 2);
  // Heights beyond +-10^7 % are far off the plot: clamping them moves the
  // visible part of a segment by less than a thousandth of a pixel, and
  // keeps the arithmetic finite.
  constexpr double kFar = 1e7;
  Polylines runs;
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
    if (!have_end || a.x != end.x || a.y != end.y) runs.push_back({{a.x, a.y}});
    runs.back().push_back({b.x, b.y});
    end = b;
    have_end = true;
  }
  canvas.PushClip(kLeft, kTop, kRight + 1 - kLeft, kBottom + 1 - kTop);
  canvas.StrokeSharpLines(runs, Colour{1, 0, 0});
  canvas.PopClip();
}

}  // namespace

PlotArea UsageChartPlot() { return PlotArea{kLeft, kTop, kRight, kBottom}; }

std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                      const std::vector<double>& values) {
  if (values.size() < labels.size()) {
    throw std::invalid_argument("DrawChart: " + std::to_string(labels.size()) + " labels but " +
                                std::to_string(values.size()) + " values");
  }
  const std::shared_ptr<const DrawingBackground>& background = Background();
  std::unique_ptr<DrawingCanvas> canvas =
      NewChartCanvas(kUsageChartWidth, kUsageChartHeight, background);
  DrawTitle(*canvas, title);
  DrawPointLabels(*canvas, labels);
  DrawSeries(*canvas, values, labels.size());
  return canvas->Jpeg(*background);
}

}  // namespace quarrin
