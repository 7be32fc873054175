// The disk map: FolderSize over a large tree, and the chart of a drive.
//
//   diskmap_bench                       Google Benchmark runs; the walk goes
//                                       over $QUARRIN_WALK_PATH (default /usr)
//   diskmap_bench --walk PATH           prints FolderSize(PATH) and exits
//   diskmap_bench --make-tree DIR N     creates a tree of N files below DIR
// The last two serve bench/diskmap_walk.sh, which times whole processes
// against du.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "disk/disk_map.h"

namespace quarrin {
namespace {

std::string WalkPath() {
  const char* path = std::getenv("QUARRIN_WALK_PATH");
  return path && *path ? path : "/usr";
}

void BM_FolderSize(benchmark::State& state) {
  const std::string path = WalkPath();
  int64_t bytes = FolderSize(path);  // warms the cache
  for (auto _ : state) bytes = FolderSize(path);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_FolderSize)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawDiskMap20(benchmark::State& state) {
  std::vector<FolderBar> bars;
  for (int i = 0; i < 20; ++i) bars.push_back({"/folder" + std::to_string(i), int64_t{i} << 28});
  DrawDiskMap("first", bars);
  for (auto _ : state) benchmark::DoNotOptimize(DrawDiskMap("Drive map", bars));
}
BENCHMARK(BM_DrawDiskMap20)->Unit(benchmark::kMillisecond);

// Twenty top-level folders of ten folders of ten folders, the files spread
// evenly over the leaves, sizes up to 64 KiB written as sparse lengths.
int MakeTree(const std::string& root, long files) {
  if (mkdir(root.c_str(), 0755) != 0) {
    std::perror(root.c_str());
    return 1;
  }
  const long leaves = 20 * 10 * 10;
  long made = 0;
  for (int a = 0; a < 20; ++a) {
    const std::string pa = root + "/top" + std::to_string(a);
    mkdir(pa.c_str(), 0755);
    for (int b = 0; b < 10; ++b) {
      const std::string pb = pa + "/mid" + std::to_string(b);
      mkdir(pb.c_str(), 0755);
      for (int c = 0; c < 10; ++c) {
        const std::string pc = pb + "/leaf" + std::to_string(c);
        mkdir(pc.c_str(), 0755);
        const long leaf = (a * 10 + b) * 10 + c;
        const long here = files / leaves + (leaf < files % leaves ? 1 : 0);
        for (long f = 0; f < here; ++f, ++made) {
          const std::string file = pc + "/file" + std::to_string(f);
          const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
          if (fd < 0 || ftruncate(fd, (made * 7919) % 65536) != 0) {
            std::perror(file.c_str());
            return 1;
          }
          close(fd);
        }
      }
    }
  }
  return 0;
}

}  // namespace
}  // namespace quarrin

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--walk") == 0) {
    std::printf("%" PRId64 "\n", quarrin::FolderSize(argv[2]));
    return 0;
  }
  if (argc >= 4 && std::strcmp(argv[1], "--make-tree") == 0) {
    return quarrin::MakeTree(argv[2], std::strtol(argv[3], nullptr, 10));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
