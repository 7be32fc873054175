#include "server/console/bar_chart.h"

#include <algorithm>

#include "server/console/html.h"

namespace quarrin {

namespace {

constexpr int kRow = 22;
constexpr int kLabelWidth = 300;
constexpr int kBarWidth = 360;

}  // namespace

std::string BarChart(const std::vector<Bar>& bars, size_t max_bars) {
  const size_t n = std::min(bars.size(), max_bars);
  if (n == 0) return "";
  int64_t largest = 1;
  for (size_t i = 0; i < n; ++i) largest = std::max(largest, bars[i].value);
  const int height = static_cast<int>(n) * kRow + 4;
  std::string out = "<svg class=\"bars\" role=\"img\" width=\"" +
                    std::to_string(kLabelWidth + kBarWidth + 80) + "\" height=\"" +
                    std::to_string(height) + "\">";
  for (size_t i = 0; i < n; ++i) {
    const Bar& b = bars[i];
    const int y = static_cast<int>(i) * kRow + 2;
    const int64_t width = std::max<int64_t>(b.value > 0 ? 1 : 0, b.value * kBarWidth / largest);
    std::string label = b.label.empty() ? "(unknown)" : b.label;
    if (label.size() > 44) label = label.substr(0, 42) + "..";
    std::string row = "<text x=\"0\" y=\"" + std::to_string(y + 15) + "\">" + Html(label) +
                      "</text><rect x=\"" + std::to_string(kLabelWidth) + "\" y=\"" +
                      std::to_string(y + 3) + "\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(kRow - 6) + "\"/><text x=\"" +
                      std::to_string(kLabelWidth + width + 6) + "\" y=\"" +
                      std::to_string(y + 15) + "\">" + std::to_string(b.value) + "</text>";
    if (!b.link.empty()) row = "<a href=\"" + Html(b.link) + "\">" + row + "</a>";
    out += "<g><title>" + Html(b.label) + ": " + std::to_string(b.value) + "</title>" + row + "</g>";
  }
  return out + "</svg>";
}

}  // namespace quarrin
