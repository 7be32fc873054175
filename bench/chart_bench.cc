// The usage chart: DrawChart of a full day series (301 points), rendering
// plus JPEG encoding, and the whole work of a /disk_d request (reading the
// day series from the registry store, composing the title, drawing).
//
//   chart_bench                     Google Benchmark runs; first prints the
//                                   time of the process's first chart
//   chart_bench --seed-day-series   writes a full day series ending now into
//                                   the registry store below QUARRIN_ROOT
//   chart_bench --disk-d-once FILE  draws the /disk_d chart from that store
//                                   into FILE, once, and exits
// The last two serve bench/disk_d_vs_rrdtool.sh, which times whole processes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/registry.h"
#include "core/time_texts.h"
#include "disk/disk_history.h"
#include "disk/jpeg_encoder.h"
#include "disk/usage_chart.h"
#include "platform/time/clock.h"
#include "platform/files/disk_space.h"
#include "platform/files/paths.h"
#include "platform/regional/regional_settings.h"
#include "platform/registry/registry_store.h"

namespace quarrin {
namespace {

constexpr int kDayPoints = 301;

// 301 samples, five minutes apart, ending at `end`, drifting like a real drive.
void SeedDaySeries(RegistryStore& store, DateTime end, const RegionalSettings& settings) {
  const std::string path = SeriesKeyPath(SeriesPeriod::kDay).substr(1);
  store.Atomically([&](RegistryStore& s) {
    s.CreateKey(RootKey::kLocalMachine, path);
    for (int k = kDayPoints - 1; k >= 0; --k) {
      const DateTime t = AddMilliseconds(end, -int64_t{k} * 5 * 60 * 1000 - 93);
      s.SetValue(RootKey::kLocalMachine, path, TimestampText(t, SystemClock(), settings),
                 EncodeFloat(0.62 + 0.03 * std::sin(k / 20.0) + (k < 150 ? 0.05 : 0)));
    }
  });
}

// What the dispatcher does for /disk_d, less the machine-details collection.
std::string DiskDChart(RegistryStore& store, Clock& clock, const RegionalSettings& settings) {
  const DateTime now = clock.Now();
  const ChartSeries series = ReadChartSeries(store, SeriesPeriod::kDay, settings, now);
  int64_t total = -1, free = -1;
  SystemDriveSpace().Query(&total, &free);
  const std::string title = std::string(ChartTitlePrefix(SeriesPeriod::kDay)) +
                            LocalComputerName() + " % C Drive used (Size: " +
                            SizeText(total, settings) + ") at " + TimestampText(now, clock, settings);
  return DrawChart(title, series.labels, series.values);
}

struct DaySeries {
  std::vector<std::string> labels;
  std::vector<double> values;
};

const DaySeries& Points() {
  static const DaySeries points = [] {
    DaySeries p;
    for (int i = 0; i < kDayPoints; ++i) {
      const int minute = ((14 * 60 + 5 - 5 * i) % 1440 + 1440) % 1440;
      char label[32];
      std::snprintf(label, sizeof label, "%02d:%02d:00.%03d", minute / 60, minute % 60, i % 1000);
      p.labels.push_back(label);
      p.values.push_back(62 + 3 * std::sin(i / 20.0) + (i > 150 ? 5 : 0));
    }
    return p;
  }();
  return points;
}

void BM_DrawChart301(benchmark::State& state) {
  const DaySeries& p = Points();
  const std::string title = "Daily Graph (5min avg) BENCH % C Drive used (Size: 1,000) at now";
  DrawChart(title, p.labels, p.values);  // the first chart loads the fonts
  for (auto _ : state) benchmark::DoNotOptimize(DrawChart(title, p.labels, p.values));
}
BENCHMARK(BM_DrawChart301)->Unit(benchmark::kMillisecond);

void BM_EncodeOnly790x390(benchmark::State& state) {
  std::vector<uint8_t> white(790 * 390 * 4, 0xFF);
  for (auto _ : state) benchmark::DoNotOptimize(EncodeJpeg(white.data(), 790, 390, 790 * 4));
}
BENCHMARK(BM_EncodeOnly790x390)->Unit(benchmark::kMillisecond);

void BM_DiskDRequest(benchmark::State& state) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/quarrin-chart-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  {
    std::unique_ptr<RegistryStore> store = OpenSqliteRegistryStore(dir + "/registry.db");
    const RegionalSettings settings;
    SeedDaySeries(*store, SystemClock().Now(), settings);
    DiskDChart(*store, SystemClock(), settings);
    for (auto _ : state) benchmark::DoNotOptimize(DiskDChart(*store, SystemClock(), settings));
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_DiskDRequest)->Unit(benchmark::kMillisecond);

int SeedMode() {
  MakeDirs(StateDir());
  std::unique_ptr<RegistryStore> store = OpenSqliteRegistryStore(RegistryDbPath());
  SeedDaySeries(*store, SystemClock().Now(), ReadRegionalSettings(*store));
  return 0;
}

int DiskDOnceMode(const char* out) {
  std::unique_ptr<RegistryStore> store = OpenSqliteRegistryStore(RegistryDbPath());
  const std::string jpeg = DiskDChart(*store, SystemClock(), ReadRegionalSettings(*store));
  std::ofstream(out, std::ios::binary) << jpeg;
  return jpeg.empty() ? 1 : 0;
}

}  // namespace
}  // namespace quarrin

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--seed-day-series") == 0) return quarrin::SeedMode();
  if (argc >= 3 && std::strcmp(argv[1], "--disk-d-once") == 0) {
    return quarrin::DiskDOnceMode(argv[2]);
  }
  const auto start = std::chrono::steady_clock::now();
  const quarrin::DaySeries& p = quarrin::Points();
  quarrin::DrawChart("first", p.labels, p.values);
  const std::chrono::duration<double, std::milli> first = std::chrono::steady_clock::now() - start;
  std::printf("first chart of the process (fonts loaded): %.2f ms\n", first.count());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
