#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files/entry_size.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

// A folder and a symbolic link are entries too, with the sizes lstat gives.
TEST(ListedEntrySizeTest, FoldersAndLinksAsLstatListsThem) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "target", std::string(1000, 't'));
  std::filesystem::create_symlink(dir / "target", dir / "link");
  for (const std::string& path : {dir.path(), dir / "link"}) {
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(ListedEntrySize(path), st.st_size) << path;
  }
  EXPECT_NE(ListedEntrySize(dir / "link"), 1000);
}

}  // namespace
}  // namespace quarrin
