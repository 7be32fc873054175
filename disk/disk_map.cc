#include "disk/disk_map.h"

#include <algorithm>
#include <cmath>

#include "disk/chart_canvas.h"
#include "platform/paths.h"
#include "platform/regional_settings.h"

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

LayoutPtr LabelLayout(const ChartCanvas& canvas, const std::string& text) {
  LayoutPtr layout = canvas.Layout(text, ChartFont::kAxis);
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  double w = 0, h = 0;
  ChartCanvas::Size(layout.get(), &w, &h);
  if (w > kMaxLabelWidth) {
    pango_layout_set_width(layout.get(), static_cast<int>(kMaxLabelWidth) * PANGO_SCALE);
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_MIDDLE);
  }
  return layout;
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
Scale ChooseScale(const ChartCanvas& canvas, double needed, double plot_width) {
  // Whole bytes: an empty drive still gets an axis of 0 to 10.
  needed = std::max(needed, 10.0);
  Scale s;
  for (int ticks = 10; ticks >= 1; --ticks) {
    s.step = std::max(1.0, NiceStep(needed / ticks));
    s.max = std::ceil(needed / s.step) * s.step;
    const double label = canvas.TextWidth(ByteText(s.max), ChartFont::kAxis);
    if (s.step / s.max * plot_width >= label + 16) break;
  }
  return s;
}

void DrawByteAxis(const ChartCanvas& canvas, const Scale& scale, double left, double right) {
  cairo_t* cr = canvas.cr();
  const double width = right - left;
  const int ticks = static_cast<int>(std::llround(scale.max / scale.step));
  cairo_set_line_width(cr, 1);
  cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
  for (int k = 1; k <= ticks; ++k) {
    const double x = std::floor(left + k * scale.step / scale.max * width) + 0.5;
    cairo_move_to(cr, x, kTop);
    cairo_line_to(cr, x, kBottom);
  }
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
  for (int k = 0; k <= ticks; ++k) {
    const double x = std::floor(left + k * scale.step / scale.max * width) + 0.5;
    cairo_move_to(cr, x, kBottom + 1);
    cairo_line_to(cr, x, kBottom + 1 + kTick);
  }
  cairo_stroke(cr);
  for (int k = 0; k <= ticks; ++k) {
    const double x = std::floor(left + k * scale.step / scale.max * width) + 0.5;
    LayoutPtr layout = canvas.Layout(ByteText(k * scale.step), ChartFont::kAxis);
    double w = 0, h = 0;
    ChartCanvas::Size(layout.get(), &w, &h);
    canvas.Draw(layout.get(), std::floor(x - w / 2), kBottom + kTick + 3);
  }
  LayoutPtr unit = canvas.Layout("bytes", ChartFont::kAxis);
  double w = 0, h = 0;
  ChartCanvas::Size(unit.get(), &w, &h);
  canvas.Draw(unit.get(), std::floor(left + (width - w) / 2), kBottom + kTick + 3 + h + 2);

  // Frame, with the two axes darker.
  cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
  cairo_rectangle(cr, left + 0.5, kTop + 0.5, right - left, kBottom - kTop);
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
  cairo_move_to(cr, left + 0.5, kTop);
  cairo_line_to(cr, left + 0.5, kBottom + 0.5);
  cairo_line_to(cr, right + 1, kBottom + 0.5);
  cairo_stroke(cr);
}

void FillBar(cairo_t* cr, double x0, double y0, double x1, double y1) {
  const auto& c = kBarRgb;
  cairo_pattern_t* gradient = cairo_pattern_create_linear(0, y0, 0, y1);
  cairo_pattern_add_color_stop_rgb(gradient, 0, 0.55 + 0.45 * c[0], 0.55 + 0.45 * c[1],
                                   0.55 + 0.45 * c[2]);
  cairo_pattern_add_color_stop_rgb(gradient, 0.45, c[0], c[1], c[2]);
  cairo_pattern_add_color_stop_rgb(gradient, 1, 0.7 * c[0], 0.7 * c[1], 0.7 * c[2]);
  cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
  cairo_set_source(cr, gradient);
  cairo_fill(cr);
  cairo_pattern_destroy(gradient);
  if (y1 - y0 >= 4 && x1 - x0 >= 2) {
    cairo_set_source_rgb(cr, 0.6 * c[0], 0.6 * c[1], 0.6 * c[2]);
    cairo_rectangle(cr, x0 + 0.5, y0 + 0.5, x1 - x0 - 1, y1 - y0 - 1);
    cairo_stroke(cr);
  }
}

}  // namespace

std::string DrawDiskMap(const std::string& caption, const std::vector<FolderBar>& bars) {
  ChartCanvas canvas(kDiskMapWidth, kDiskMapHeight);
  cairo_t* cr = canvas.cr();
  canvas.DrawTitle(caption);

  std::vector<LayoutPtr> labels;
  std::vector<double> widths;
  double label_width = 0;
  for (const FolderBar& bar : bars) {
    labels.push_back(LabelLayout(canvas, bar.label));
    double w = 0, h = 0;
    ChartCanvas::Size(labels.back().get(), &w, &h);
    widths.push_back(std::min(w, kMaxLabelWidth));
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
    const double half = std::ceil(canvas.TextWidth(ByteText(scale.max), ChartFont::kAxis) / 2) + 3;
    if (half <= kDiskMapWidth - right) break;
    right = kDiskMapWidth - half;
  }
  const double plot_width = right - left;
  DrawByteAxis(canvas, scale, left, right);

  const double slot = (kBottom - kTop) / static_cast<double>(std::max<size_t>(bars.size(), 1));
  const double thickness = std::max(1.0, std::round(kBarShare * slot));
  double label_top = kBottom + 1e9;  // top edge of the axis label shown last
  std::vector<Rect> callouts;
  cairo_save(cr);
  cairo_rectangle(cr, left + 1, kTop + 1, right - left - 1, kBottom - kTop - 1);
  cairo_clip(cr);
  for (size_t i = 0; i < bars.size(); ++i) {
    const double centre = kBottom - (static_cast<double>(i) + 0.5) * slot;
    const double y0 = std::round(centre - thickness / 2);
    const double y1 = y0 + thickness;
    const double x1 = std::round(left + 1 + static_cast<double>(std::max<int64_t>(bars[i].bytes, 0)) /
                                                scale.max * (plot_width - 1));
    if (x1 > left + 1) FillBar(cr, left + 1, y0, x1, y1);

    // Callout: a pale yellow box with the label, 20 pixels right of the bar
    // end, unless it would cover one already drawn.
    double w = 0, h = 0;
    ChartCanvas::Size(labels[i].get(), &w, &h);
    const double cy = std::floor(centre) + 0.5;
    const Rect box{x1 + kCalloutLine, std::floor(cy - h / 2 - 2),
                   x1 + kCalloutLine + widths[i] + 2 * kCalloutPad, std::floor(cy - h / 2 - 2) + h + 4};
    if (std::any_of(callouts.begin(), callouts.end(),
                    [&](const Rect& r) { return r.Overlaps(box); })) {
      continue;
    }
    callouts.push_back(box);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    cairo_move_to(cr, x1, cy);
    cairo_line_to(cr, box.x0, cy);
    cairo_stroke(cr);
    cairo_rectangle(cr, box.x0 + 0.5, box.y0 + 0.5, box.x1 - box.x0 - 1, box.y1 - box.y0 - 1);
    cairo_set_source_rgb(cr, 1.0, 1.0, 128.0 / 255.0);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    canvas.Draw(labels[i].get(), box.x0 + kCalloutPad, box.y0 + 2);
  }
  cairo_restore(cr);

  // The axis labels, bottom up, each clear of the one below it.
  std::vector<double> ticks;
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (size_t i = 0; i < bars.size(); ++i) {
    const double centre = kBottom - (static_cast<double>(i) + 0.5) * slot;
    double w = 0, h = 0;
    ChartCanvas::Size(labels[i].get(), &w, &h);
    const double top = std::floor(centre - h / 2);
    if (top + h > label_top) continue;
    canvas.Draw(labels[i].get(), left - kTick - 3 - widths[i], top);
    label_top = top;
    ticks.push_back(std::floor(centre) + 0.5);
  }
  cairo_new_path(cr);
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
  for (double y : ticks) {
    cairo_move_to(cr, left - kTick, y);
    cairo_line_to(cr, left, y);
  }
  cairo_stroke(cr);
  return canvas.Jpeg();
}

std::string MapDisk(const std::string& caption, const std::string& drive_root) {
  return DrawDiskMap(caption, MeasureDrive(drive_root));
}

std::string MapDisk(const std::string& caption) { return MapDisk(caption, SystemDriveRoot()); }

}  // namespace quarrin
