// The registry accessor over the SQLite store holding 10,000 keys: an open
// and a read of text, an open and a write of a float, each as an accessor is
// used by the agent (created for the operation and released after it).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/registry.h"
#include "platform/registry/registry_store.h"

namespace quarrin {
namespace {

constexpr int kGroups = 100;
constexpr int kKeysPerGroup = 100;

// One store for all benchmarks, in a folder removed at exit.
class BenchStore {
 public:
  BenchStore() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/quarrin-bench-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    dir_ = tmpl;
    store_ = OpenSqliteRegistryStore(dir_ + "/registry.db");
    store_->Atomically([&](RegistryStore& s) {
      for (int g = 0; g < kGroups; ++g) {
        for (int k = 0; k < kKeysPerGroup; ++k) {
          char path[64];
          std::snprintf(path, sizeof path, "SOFTWARE\\Bench\\Group%02d\\Key%03d", g, k);
          s.CreateKey(RootKey::kLocalMachine, path);
          s.SetValue(RootKey::kLocalMachine, path, "Text", EncodeString(path));
          s.SetValue(RootKey::kLocalMachine, path, "Float", EncodeFloat(k));
          paths_.push_back(std::string("\\") + path);
        }
      }
    });
  }
  ~BenchStore() {
    store_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  RegistryStore& store() { return *store_; }
  const std::string& path(size_t i) const { return paths_[i % paths_.size()]; }

 private:
  std::string dir_;
  std::unique_ptr<RegistryStore> store_;
  std::vector<std::string> paths_;
};

BenchStore& Shared() {
  static BenchStore store;
  return store;
}

void BM_OpenKeyReadText(benchmark::State& state) {
  BenchStore& bench = Shared();
  size_t i = 0;
  for (auto _ : state) {
    Registry reg(bench.store());
    if (!reg.OpenKey(bench.path(i), false)) state.SkipWithError("key missing");
    benchmark::DoNotOptimize(reg.ReadString("Text"));
    i += 7919;  // spread over the keys
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenKeyReadText);

void BM_OpenKeyWriteFloat(benchmark::State& state) {
  BenchStore& bench = Shared();
  size_t i = 0;
  for (auto _ : state) {
    Registry reg(bench.store());
    if (!reg.OpenKey(bench.path(i), false)) state.SkipWithError("key missing");
    reg.WriteFloat("Float", static_cast<double>(i));
    i += 7919;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenKeyWriteFloat);

}  // namespace
}  // namespace quarrin

BENCHMARK_MAIN();
