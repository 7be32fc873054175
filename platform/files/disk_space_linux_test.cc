#include "platform/files/disk_space.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(StatvfsDiskSpaceTest, SizesOfARealFileSystemAndFailureOfAMissingOne) {
  testing::TempDir dir;
  int64_t total = 0, free = -5;
  StatvfsDiskSpace here(dir.path());
  ASSERT_TRUE(here.Query(&total, &free));
  EXPECT_GT(total, 0);
  EXPECT_GE(free, 0);
  EXPECT_LE(free, total);

  int64_t untouched_total = 7, untouched_free = 8;
  StatvfsDiskSpace missing(dir / "no such folder");
  EXPECT_FALSE(missing.Query(&untouched_total, &untouched_free));
  EXPECT_EQ(untouched_total, 7);
  EXPECT_EQ(untouched_free, 8);
}

TEST(StatvfsDiskSpaceTest, SystemDriveFollowsQuarrinRoot) {
  testing::TempDir dir;
  testing::ScopedEnv root("QUARRIN_ROOT", dir / "absent");
  int64_t total = 0, free = 0;
  EXPECT_FALSE(SystemDriveSpace().Query(&total, &free));
  testing::ScopedEnv real_root("QUARRIN_ROOT", dir.path());
  EXPECT_TRUE(SystemDriveSpace().Query(&total, &free));
}

}  // namespace
}  // namespace quarrin
