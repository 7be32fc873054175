#include "platform/files/entry_size.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace quarrin {
namespace {

// As a listing shows them: a folder has no size, and a wildcard names no
// one entry.
TEST(WindowsListedEntrySizeTest, FoldersAndWildcards) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "GENESIS.GDB", std::string(100, 'g'));
  EXPECT_EQ(ListedEntrySize(dir.path()), 0);
  EXPECT_EQ(ListedEntrySize(dir / "GENESIS.*"), 0);
  EXPECT_EQ(ListedEntrySize(dir / "G?NESIS.GDB"), 0);
  EXPECT_EQ(ListedEntrySize(dir / "GENESIS.GDB"), 100);
}

}  // namespace
}  // namespace quarrin
