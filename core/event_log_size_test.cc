#include "core/event_log_size.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/registry.h"
#include "platform/eventlog/event_log.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(EventLogSizeTest, MaxSizeUnderTheSourceKeyOrTheDefault) {
  testing::TempDir dir;
  std::unique_ptr<RegistryStore> store = OpenScratchRegistryStore(dir.path());
  const std::string key = "System\\CurrentControlSet\\Services\\Eventlog\\Application\\Src";
  struct {
    const char* name;
    std::function<void(Registry&)> set;  // null: no key at all
    uint64_t bytes;
  } cases[] = {
      {"no source key", nullptr, kDefaultEventLogMaxBytes},
      {"no value", [](Registry&) {}, kDefaultEventLogMaxBytes},
      {"one MiB", [](Registry& r) { r.WriteInteger("MaxSize", 1 << 20); }, 1u << 20},
      {"zero", [](Registry& r) { r.WriteInteger("MaxSize", 0); }, kDefaultEventLogMaxBytes},
      {"all bits, unsigned", [](Registry& r) { r.WriteInteger("MaxSize", -1); }, 0xFFFFFFFFu},
      {"text", [](Registry& r) { r.WriteString("maxsize", "1048576"); }, kDefaultEventLogMaxBytes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store->DeleteKey(RootKey::kLocalMachine, key);
    if (c.set) {
      Registry reg(*store);
      reg.SetRootKey(RootKey::kLocalMachine);
      ASSERT_TRUE(reg.OpenKey("\\" + key, true));
      c.set(reg);
    }
    EXPECT_EQ(ReadEventLogMaxBytes(*store, "Src"), c.bytes);
  }
}

}  // namespace
}  // namespace quarrin
