#include "platform/system/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace quarrin {
namespace {

TEST(MemoryTextTest, WholeMebibytesRoundedDown) {
  struct {
    uint64_t bytes;
    const char* text;
  } cases[] = {
      {536281088, "511MB"},
      {1073217536, "1023MB"},
      {0, "0MB"},
      {(1u << 20) - 1, "0MB"},
      {1u << 20, "1MB"},
      {uint64_t{64} << 30, "65536MB"},  // beyond 32 bits of bytes
      {UINT64_MAX, "17592186044415MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(MemoryTextFromBytes(c.bytes), c.text) << c.bytes;
}

TEST(MemoryTextTest, ReportsTheMachinesTotalMemory) {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  uint64_t kib = 0;
  while (std::getline(meminfo, line)) {
    std::istringstream fields(line);
    std::string name;
    if (fields >> name >> kib && name == "MemTotal:") break;
  }
  ASSERT_GT(kib, 0u);
  EXPECT_EQ(MemoryText(), MemoryTextFromBytes(kib * 1024));
}

}  // namespace
}  // namespace quarrin
