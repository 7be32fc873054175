#include "disk/usage_chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "disk/jpeg_testing.h"

namespace quarrin {
namespace {

using testing::DecodedJpeg;
using testing::DecodeJpeg;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<std::string> TimeLabels(size_t n) {
  std::vector<std::string> labels;
  for (size_t i = 0; i < n; ++i) {
    const size_t minute = (14 * 60 + 5 + 1440 * 2 - 5 * i) % 1440;
    char text[32];
    std::snprintf(text, sizeof text, "%02zu:%02zu:00.%03zu", minute / 60, minute % 60, i % 1000);
    labels.push_back(text);
  }
  return labels;
}

int ColumnOf(double x) {
  const PlotArea p = UsageChartPlot();
  return static_cast<int>(std::floor(p.left + x * (p.right - p.left) / 300 + 0.5));
}
int RowOf(double percent) {
  const PlotArea p = UsageChartPlot();
  return static_cast<int>(std::floor(p.bottom - percent * (p.bottom - p.top) / 100 + 0.5));
}

bool AnyRedIn(const DecodedJpeg& img, int x0, int y0, int x1, int y1) {
  for (int y = std::max(y0, 0); y <= std::min(y1, img.height - 1); ++y) {
    for (int x = std::max(x0, 0); x <= std::min(x1, img.width - 1); ++x) {
      if (img.IsRed(x, y)) return true;
    }
  }
  return false;
}

bool AnyRedInColumn(const DecodedJpeg& img, int x) { return AnyRedIn(img, x, 0, x, img.height - 1); }

TEST(DrawChartTest, AlwaysABaselineJpegOf790By390) {
  const std::string long_title(2000, 'W');
  struct Case {
    const char* name;
    std::vector<std::string> labels;
    std::vector<double> values;
    std::string title = "Daily Graph (5min avg) PC % C Drive used";
  };
  std::vector<Case> cases;
  cases.push_back({"no points", {}, {}});
  cases.push_back({"one point", {"14:05:00.093"}, {42}});
  cases.push_back({"301 points", TimeLabels(301), std::vector<double>(301, 63.2)});
  cases.push_back({"1000 points", TimeLabels(1000), std::vector<double>(1000, 50)});
  cases.push_back({"out of range",
                   TimeLabels(8),
                   {120, -20, 1e308, -1e308, kNaN, kInf, -kInf, -0.0}});
  cases.push_back({"more values than labels", TimeLabels(2), {1, 2, 3, 4}});
  cases.push_back({"odd labels",
                   {"", "line\nbreak", std::string("\xff\xfe bad utf-8"), std::string(300, '_')},
                   {1, 2, 3, 4}});
  cases.push_back({"long title", {"a"}, {1}, long_title});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedJpeg img = DecodeJpeg(DrawChart(c.title, c.labels, c.values));
    ASSERT_TRUE(testing::IsChartJpeg(img, 790, 390));
    EXPECT_EQ(img.At(2, 2).r + img.At(2, 2).g + img.At(2, 2).b, 3 * 255) << "white background";
  }
}

TEST(DrawChartTest, NoLineWithoutTwoPoints) {
  for (size_t n : {0u, 1u}) {
    const DecodedJpeg img =
        DecodeJpeg(DrawChart("t", TimeLabels(n), std::vector<double>(n, 50.0)));
    ASSERT_TRUE(img.ok);
    EXPECT_FALSE(AnyRedIn(img, 0, 0, img.width - 1, img.height - 1)) << n << " points";
  }
}

TEST(DrawChartTest, PointsLieOnTheirPlacesFromLeftEdgeToX300) {
  // 400 points at 50 %: the line runs from x = 0 to x = 300 and stops at the
  // right edge of the plot; points 301 and later are not shown.
  const DecodedJpeg img = DecodeJpeg(DrawChart("t", TimeLabels(400), std::vector<double>(400, 50)));
  ASSERT_TRUE(img.ok);
  const PlotArea p = UsageChartPlot();
  const int row = RowOf(50);
  // The red over the frame at either end loses some colour to the JPEG
  // smoothing with the grey frame, so look one pixel inside.
  EXPECT_TRUE(img.IsRed(p.left + 1, row));
  EXPECT_TRUE(img.IsRed(ColumnOf(150), row));
  EXPECT_TRUE(img.IsRed(p.right - 1, row));
  EXPECT_FALSE(AnyRedIn(img, 0, 0, p.left - 2, img.height - 1));
  EXPECT_FALSE(AnyRedIn(img, p.right + 2, 0, img.width - 1, img.height - 1));
  // Colour bleeds a pixel or two into the dark axis next to the line.
  EXPECT_FALSE(AnyRedIn(img, 0, 0, img.width - 1, row - 3));
  EXPECT_FALSE(AnyRedIn(img, 0, row + 3, img.width - 1, img.height - 1));
}

TEST(DrawChartTest, ValuesOffThePlotAreClippedAtItsEdge) {
  // A ramp from -50 % to 250 %: below the plot it runs along nothing, then
  // climbs through it and leaves at the top edge near x = 150.
  std::vector<double> ramp;
  for (int i = 0; i <= 300; ++i) ramp.push_back(-50 + i);
  const DecodedJpeg img = DecodeJpeg(DrawChart("t", TimeLabels(301), ramp));
  ASSERT_TRUE(img.ok);
  const PlotArea p = UsageChartPlot();
  EXPECT_FALSE(AnyRedIn(img, 0, 0, img.width - 1, p.top - 2)) << "nothing above the plot";
  EXPECT_FALSE(AnyRedIn(img, 0, p.bottom + 2, img.width - 1, img.height - 1))
      << "nothing below it";
  EXPECT_TRUE(AnyRedIn(img, ColumnOf(150) - 3, p.top, ColumnOf(150) + 1, p.top + 4))
      << "leaves at the top edge";
  EXPECT_TRUE(AnyRedIn(img, ColumnOf(50) - 1, p.bottom - 4, ColumnOf(50) + 3, p.bottom))
      << "enters at the bottom edge";
  EXPECT_FALSE(AnyRedInColumn(img, ColumnOf(200))) << "runs off the top";
  EXPECT_FALSE(AnyRedInColumn(img, ColumnOf(20))) << "runs below the bottom";
}

TEST(DrawChartTest, NonFiniteValuesBreakTheLine) {
  for (double bad : {kNaN, kInf, -kInf}) {
    std::vector<double> values(301, 50);
    for (int i = 100; i <= 200; ++i) values[static_cast<size_t>(i)] = bad;
    const DecodedJpeg img = DecodeJpeg(DrawChart("t", TimeLabels(301), values));
    ASSERT_TRUE(img.ok);
    SCOPED_TRACE(bad);
    EXPECT_TRUE(img.IsRed(ColumnOf(50), RowOf(50)));
    EXPECT_TRUE(img.IsRed(ColumnOf(250), RowOf(50)));
    for (int x = ColumnOf(99) + 2; x <= ColumnOf(201) - 2; ++x) {
      ASSERT_FALSE(AnyRedInColumn(img, x)) << "column " << x;
    }
  }
}

TEST(DrawChartTest, UnderscoresInLabelsShowAsBlanks) {
  const std::vector<double> values = {10, 20, 30};
  EXPECT_EQ(DrawChart("t", {"09/12/2025_14:30:00", "x", "a__b"}, values),
            DrawChart("t", {"09/12/2025 14:30:00", "x", "a  b"}, values));
  EXPECT_NE(DrawChart("t", {"ab", "x", "y"}, values), DrawChart("t", {"a b", "x", "y"}, values));
}

TEST(DrawChartTest, OverlappingLabelsAreLeftOut) {
  // 301 labels of 12 characters on 708 pixels cannot all be shown; those
  // that are stand apart, so the label band breaks into several clear runs.
  const DecodedJpeg img =
      DecodeJpeg(DrawChart("t", TimeLabels(301), std::vector<double>(301, 50)));
  ASSERT_TRUE(img.ok);
  const PlotArea p = UsageChartPlot();
  int runs = 0, blank = 100;
  for (int x = 0; x < img.width; ++x) {
    bool ink = false;
    for (int y = p.bottom + 6; y < img.height; ++y) {
      const testing::Rgb c = img.At(x, y);
      if (c.r + c.g + c.b < 3 * 128) ink = true;
    }
    if (ink && blank >= 6) ++runs;
    blank = ink ? 0 : blank + 1;
  }
  EXPECT_GE(runs, 6);
  EXPECT_LE(runs, 20);
}

TEST(DrawChartTest, TooFewValuesIsRefused) {
  EXPECT_THROW(DrawChart("t", {"a", "b"}, {1.0}), std::invalid_argument);
}

TEST(DrawChartTest, ConcurrentChartsEqualOneDrawnAlone) {
  const std::vector<std::string> labels = TimeLabels(301);
  std::vector<double> values;
  for (int i = 0; i <= 300; ++i) values.push_back(60 + 10 * std::sin(i / 15.0));
  const std::string expected = DrawChart("Concurrent", labels, values);
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 5; ++k) results[t] = DrawChart("Concurrent", labels, values);
    });
  }
  for (std::thread& th : threads) th.join();
  for (const std::string& r : results) EXPECT_TRUE(r == expected);
}

}  // namespace
}  // namespace quarrin
