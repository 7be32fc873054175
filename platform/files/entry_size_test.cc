#include "platform/files/entry_size.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text/utf8.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(ListedEntrySizeTest, SizeOfTheFileOrZero) {
  testing::TempDir dir;
  const std::string file = dir / "GENESIS.GDB";
  testing::WriteFileText(file, std::string(12345, 'g'));
  EXPECT_EQ(ListedEntrySize(file), 12345);
  EXPECT_EQ(ListedEntrySize(dir / "missing"), 0);
  EXPECT_EQ(ListedEntrySize(""), 0);
  // A large sparse file: the count is 64-bit.
  std::filesystem::resize_file(PathFromUtf8(file), 5'000'000'000LL);
  EXPECT_EQ(ListedEntrySize(file), 5'000'000'000LL);
}

}  // namespace
}  // namespace quarrin
