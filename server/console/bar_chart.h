// Horizontal bars as inline SVG, for counts that read better as a picture:
// a label, a bar as long as its share of the largest, and the number.
#ifndef QUARRIN_SERVER_CONSOLE_BAR_CHART_H_
#define QUARRIN_SERVER_CONSOLE_BAR_CHART_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quarrin {

struct Bar {
  std::string label;
  int64_t value = 0;
  std::string link;  // a console path; empty: no link
};

// The chart of at most `max_bars` bars, in the order given; empty when
// there are none.
std::string BarChart(const std::vector<Bar>& bars, size_t max_bars = 12);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_BAR_CHART_H_
