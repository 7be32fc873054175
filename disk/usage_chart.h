// The disk usage line chart.
#ifndef QUARRIN_DISK_USAGE_CHART_H_
#define QUARRIN_DISK_USAGE_CHART_H_

#include <string>
#include <vector>

namespace quarrin {

inline constexpr int kUsageChartWidth = 790;
inline constexpr int kUsageChartHeight = 390;

// Where the plot lies in the picture: x = 0 on pixel column `left`, x = 300
// on column `right`, 0 % on pixel row `bottom`, 100 % on row `top`.
struct PlotArea {
  int left, top, right, bottom;
};
PlotArea UsageChartPlot();

// Draws one series as a 790 x 390 line chart and returns it as a baseline
// JPEG at quality 75. White background, `title` centred on one line at the
// top in Arial 10 pt; the vertical axis runs from 0 to 100 and the
// horizontal one from 0 to 300 whatever the data. Point i lies at
// (i, values[i]) and is joined to its neighbours by a 1-pixel pure red
// line; everything outside the plot is clipped at its edge, and a value
// that is NaN or infinite breaks the line there. The horizontal axis shows
// labels[i], underscores as blanks, at point i; a label that would overlap
// the one shown before it is left out.
// REQUIRES: values.size() >= labels.size(), else std::invalid_argument.
// Throws ChartError or JpegError when drawing or encoding fails.
// Safe for concurrent use by multiple threads.
std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                      const std::vector<double>& values);

}  // namespace quarrin

#endif  // QUARRIN_DISK_USAGE_CHART_H_
