// The sizes of the running Windows machine: its system drive and memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/files/disk_space.h"
#include "platform/system/memory.h"

namespace quarrin {
namespace {

using ::testing::MatchesRegex;

TEST(WindowsSystemTest, DiskAndMemoryHaveSizes) {
  int64_t total = -1, free = -1;
  ASSERT_TRUE(SystemDriveSpace().Query(&total, &free));
  EXPECT_GT(total, 0);
  EXPECT_GE(free, 0);
  EXPECT_LE(free, total);
  EXPECT_GT(TotalPhysicalMemory(), uint64_t{64} << 20);  // so the text is not "0MB"
  EXPECT_THAT(MemoryText(), MatchesRegex("^\\d+MB$"));
}

}  // namespace
}  // namespace quarrin
