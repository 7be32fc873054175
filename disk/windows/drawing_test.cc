// The charts and the disk map as GDI+ draws them: complete JPEG files of
// the right kind and size whatever the data.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "disk/disk_map.h"
#include "disk/usage_chart.h"
#include "tests/jpeg_frame.h"

namespace quarrin {
namespace {

using testing::IsBaselineJpeg;

TEST(WindowsDrawingTest, ChartsAreBaselineJpegsOf790By390) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::vector<std::string> many_labels;
  std::vector<double> many_values;
  for (int i = 0; i < 400; ++i) {
    many_labels.push_back(std::to_string(i % 24) + ":00");
    many_values.push_back(i % 150 - 20);
  }
  const struct Case {
    const char* name;
    std::string title;
    std::vector<std::string> labels;
    std::vector<double> values;
  } cases[] = {
      {"no points", "Daily Graph (5min avg) PC % C Drive used", {}, {}},
      {"a few", "Weekly Graph", {"09/12/25_14:00", "09/12/25_14:30"}, {40, 41.5}},
      {"more points than fit", "Monthly Graph", many_labels, many_values},
      {"gaps and far values", "Yearly", {"a", "b", "c", "d"}, {kNaN, 1e300, -1e300, 50}},
      {"a title too long", std::string(2000, 'W'), {"x"}, {1}},
      {"invalid UTF-8", "bad \xFF\xFE title", {"\xC3"}, {1}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(IsBaselineJpeg(DrawChart(c.title, c.labels, c.values), kUsageChartWidth,
                               kUsageChartHeight))
        << c.name;
  }
  EXPECT_THROW(DrawChart("t", {"a", "b"}, {1}), std::invalid_argument);
}

TEST(WindowsDrawingTest, ConcurrentChartsEqualOneDrawnAlone) {
  const std::vector<std::string> labels{"14:00", "14:05", "14:10"};
  const std::vector<double> values{10, 60, 30};
  const std::string alone = DrawChart("Daily", labels, values);
  std::vector<std::string> drawn(4);
  std::vector<std::thread> threads;
  for (std::string& jpeg : drawn) {
    threads.emplace_back([&] { jpeg = DrawChart("Daily", labels, values); });
  }
  for (std::thread& t : threads) t.join();
  for (const std::string& jpeg : drawn) EXPECT_EQ(jpeg, alone);
}

TEST(WindowsDrawingTest, DiskMapsAreBaselineJpegsOf790By590) {
  std::vector<FolderBar> many;
  for (int i = 0; i < 60; ++i) many.push_back(FolderBar{"c:\\Folder " + std::to_string(i), i});
  const struct Case {
    const char* name;
    std::vector<FolderBar> bars;
  } cases[] = {
      {"no folders", {}},
      {"empty folders", {{"c:\\Empty", 0}, {"c:\\Also empty", 0}}},
      {"sizes", {{"c:\\Windows", int64_t{30} << 30}, {"c:\\Users", int64_t{3} << 30}}},
      {"a long label", {{"c:\\" + std::string(300, 'n'), 1 << 20}}},
      {"many bars", many},
      {"invalid UTF-8", {{"c:\\\xFF", 5}}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(IsBaselineJpeg(DrawDiskMap("Disk map of PC", c.bars), kDiskMapWidth,
                               kDiskMapHeight))
        << c.name;
  }
}

}  // namespace
}  // namespace quarrin
