#include "disk/disk_map.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "disk/chart_canvas.h"
#include "platform/files/paths.h"
#include "platform/regional/regional_settings.h"

namespace quarrin {

namespace {

constexpr int kTop = 32;
constexpr int kBottom = kDiskMapHeight - 44;
constexpr double kRightMargin = 18;  // at least; the last axis number may want more
constexpr int kTick = 4;
constexpr double kMaxLabelWidth = 180;  // longer labels lose their middle
constexpr double kCalloutLine = 20;
constexpr double kCalloutPad = 4;
constexpr double kBarShare = 0.7;
// The bars' colour: the gradient runs from a tint of it at the top edge to
// a shade of it at the bottom edge.
constexpr double kBarRgb[3] = {0.20, 0.45, 0.75};

struct Rect {
  double x0, y0, x1, y1;
  bool Overlaps(const Rect& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};

// The size of a bar's label, which loses its middle when too long.
TextSize LabelSize(DrawingCanvas& canvas, const std::string& text) {
  return canvas.MeasureText(text, DrawingFont::kAxis, kMaxLabelWidth, Ellipsis::kMiddle);
}

void DrawLabel(DrawingCanvas& canvas, const std::string& text, double x, double y) {
  canvas.WriteText(text, DrawingFont::kAxis, x, y, Colour{0, 0, 0}, kMaxLabelWidth,
                  Ellipsis::kMiddle);
}

// 1, 2 or 5 times a power of ten, at least x.
double NiceStep(double x) {
  const double power = std::pow(10.0, std::floor(std::log10(x)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= x) return m * power;
  }
  return 10 * power;
}

std::string ByteText(double bytes) {
  return SizeText(static_cast<int64_t>(std::llround(bytes)), RegionalSettings{});
}

struct Scale {
  double max = 0;   // bytes at the right edge of the plot
  double step = 0;  // bytes between ticks
};

// The byte axis: from 0 to a round number of steps at or above `needed`,
// with as many ticks as fit their numbers side by side.
Scale ChooseScale(DrawingCanvas& canvas, double needed, double plot_width) {
  // Whole bytes: an empty drive still gets an axis of 0 to 10.
  needed = std::max(needed, 10.0);
  Scale s;
  for (int ticks = 10; ticks >= 1; --ticks) {
    s.step = std::max(1.0, NiceStep(needed / ticks));
    s.max = std::ceil(needed / s.step) * s.step;
    const double label = canvas.MeasureText(ByteText(s.max), DrawingFont::kAxis).width;
    if (s.step / s.max * plot_width >= label + 16) break;
  }
  return s;
}

void DrawByteAxis(DrawingCanvas& canvas, const Scale& scale, double left, double right) {
  const double width = right - left;
  const int ticks = static_cast<int>(std::llround(scale.max / scale.step));
  const auto tick_x = [&](int k) {
    return std::floor(left + k * scale.step / scale.max * width) + 0.5;
  };
  Polylines grid;
  for (int k = 1; k <= ticks; ++k) grid.push_back({{tick_x(k), kTop}, {tick_x(k), kBottom}});
  canvas.StrokeLines(grid, Grey(0.88));
  Polylines tick_lines;
  for (int k = 0; k <= ticks; ++k) {
    tick_lines.push_back({{tick_x(k), kBottom + 1}, {tick_x(k), kBottom + 1 + kTick}});
  }
  canvas.StrokeLines(tick_lines, Grey(0.25));
  for (int k = 0; k <= ticks; ++k) {
    const std::string text = ByteText(k * scale.step);
    const double w = canvas.MeasureText(text, DrawingFont::kAxis).width;
    canvas.WriteText(text, DrawingFont::kAxis, std::floor(tick_x(k) - w / 2), kBottom + kTick + 3,
                    Grey(0.25));
  }
  const TextSize unit = canvas.MeasureText("bytes", DrawingFont::kAxis);
  canvas.WriteText("bytes", DrawingFont::kAxis, std::floor(left + (width - unit.width) / 2),
                  kBottom + kTick + 3 + unit.height + 2, Grey(0.25));

  // Frame, with the two axes darker.
  canvas.StrokeRectangle(left + 0.5, kTop + 0.5, right - left, kBottom - kTop, Grey(0.6));
  canvas.StrokeLines({{{left + 0.5, kTop}, {left + 0.5, kBottom + 0.5}, {right + 1, kBottom + 0.5}}},
                     Grey(0.25));
}

void FillBar(DrawingCanvas& canvas, double x0, double y0, double x1, double y1) {
  const auto& c = kBarRgb;
  canvas.FillGradient(x0, y0, x1 - x0, y1 - y0,
                      {{0, Colour{0.55 + 0.45 * c[0], 0.55 + 0.45 * c[1], 0.55 + 0.45 * c[2]}},
                       {0.45, Colour{c[0], c[1], c[2]}},
                       {1, Colour{0.7 * c[0], 0.7 * c[1], 0.7 * c[2]}}});
  if (y1 - y0 >= 4 && x1 - x0 >= 2) {
    canvas.StrokeRectangle(x0 + 0.5, y0 + 0.5, x1 - x0 - 1, y1 - y0 - 1,
                           Colour{0.6 * c[0], 0.6 * c[1], 0.6 * c[2]});
  }
}

}  // namespace

std::string DrawDiskMap(const std::string& caption, const std::vector<FolderBar>& bars) {
  std::unique_ptr<DrawingCanvas> drawing = NewChartCanvas(kDiskMapWidth, kDiskMapHeight);
  DrawingCanvas& canvas = *drawing;
  DrawTitle(canvas, caption);

  std::vector<TextSize> labels;
  std::vector<double> widths;
  double label_width = 0;
  for (const FolderBar& bar : bars) {
    labels.push_back(LabelSize(canvas, bar.label));
    widths.push_back(std::min(labels.back().width, kMaxLabelWidth));
    label_width = std::max(label_width, widths.back());
  }

  // The label column at the left, the plot to the right of it; the axis
  // reaches far enough that every bar still has room for its callout.
  const double left = std::floor(8 + label_width + 3 + kTick);
  // The plot ends far enough from the right edge for the last axis number
  // to stand centred under its tick.
  double right = kDiskMapWidth - kRightMargin;
  Scale scale;
  for (int pass = 0; pass < 2; ++pass) {
    const double plot_width = right - left;
    double needed = 0;
    for (size_t i = 0; i < bars.size(); ++i) {
      const double callout = kCalloutLine + widths[i] + 2 * kCalloutPad + 4;
      const double room = std::max(plot_width - callout, plot_width / 4);
      needed = std::max(needed, static_cast<double>(bars[i].bytes) * plot_width / room);
    }
    scale = ChooseScale(canvas, needed, plot_width);
    const double half = std::ceil(canvas.MeasureText(ByteText(scale.max), DrawingFont::kAxis).width / 2) + 3;
    if (half <= kDiskMapWidth - right) break;
    right = kDiskMapWidth - half;
  }
  const double plot_width = right - left;
  DrawByteAxis(canvas, scale, left, right);

  const double slot = (kBottom - kTop) / static_cast<double>(std::max<size_t>(bars.size(), 1));
  const double thickness = std::max(1.0, std::round(kBarShare * slot));
  double label_top = kBottom + 1e9;  // top edge of the axis label shown last
  std::vector<Rect> callouts;
  canvas.PushClip(left + 1, kTop + 1, right - left - 1, kBottom - kTop - 1);
  for (size_t i = 0; i < bars.size(); ++i) {
    const double centre = kBottom - (static_cast<double>(i) + 0.5) * slot;
    const double y0 = std::round(centre - thickness / 2);
    const double y1 = y0 + thickness;
    const double x1 = std::round(left + 1 + static_cast<double>(std::max<int64_t>(bars[i].bytes, 0)) /
                                                scale.max * (plot_width - 1));
    if (x1 > left + 1) FillBar(canvas, left + 1, y0, x1, y1);

    // Callout: a pale yellow box with the label, 20 pixels right of the bar
    // end, unless it would cover one already drawn.
    const double h = labels[i].height;
    const double cy = std::floor(centre) + 0.5;
    const Rect box{x1 + kCalloutLine, std::floor(cy - h / 2 - 2),
                   x1 + kCalloutLine + widths[i] + 2 * kCalloutPad, std::floor(cy - h / 2 - 2) + h + 4};
    if (std::any_of(callouts.begin(), callouts.end(),
                    [&](const Rect& r) { return r.Overlaps(box); })) {
      continue;
    }
    callouts.push_back(box);
    canvas.StrokeLines({{{x1, cy}, {box.x0, cy}}}, Grey(0.35));
    const double bw = box.x1 - box.x0 - 1, bh = box.y1 - box.y0 - 1;
    canvas.FillRectangle(box.x0 + 0.5, box.y0 + 0.5, bw, bh, Colour{1.0, 1.0, 128.0 / 255.0});
    canvas.StrokeRectangle(box.x0 + 0.5, box.y0 + 0.5, bw, bh, Grey(0.45));
    DrawLabel(canvas, bars[i].label, box.x0 + kCalloutPad, box.y0 + 2);
  }
  canvas.PopClip();

  // The axis labels, bottom up, each clear of the one below it.
  std::vector<double> ticks;
  for (size_t i = 0; i < bars.size(); ++i) {
    const double centre = kBottom - (static_cast<double>(i) + 0.5) * slot;
    const double h = labels[i].height;
    const double top = std::floor(centre - h / 2);
    if (top + h > label_top) continue;
    DrawLabel(canvas, bars[i].label, left - kTick - 3 - widths[i], top);
    label_top = top;
    ticks.push_back(std::floor(centre) + 0.5);
  }
  Polylines tick_lines;
  for (double y : ticks) tick_lines.push_back({{left - kTick, y}, {left, y}});
  canvas.StrokeLines(tick_lines, Grey(0.25));
  return canvas.Jpeg();
}

std::string MapDisk(const std::string& caption, const std::string& drive_root) {
  return DrawDiskMap(caption, MeasureDrive(drive_root));
}

std::string MapDisk(const std::string& caption) { return MapDisk(caption, SystemDriveRoot()); }

}  // namespace quarrin
