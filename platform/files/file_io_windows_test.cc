#include "platform/files/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(WindowsFileIoTest, ReadsUpToTheCapAndTellsFailures) {
  testing::TempDir dir;
  // A path beyond ASCII reaches the system as the same name.
  const std::string file = dir / "r\xC3\xA9sum\xC3\xA9.txt";
  ASSERT_EQ(WriteFileSynced(file, "0123\r\n6789").error, 0);
  struct {
    std::string path;
    size_t cap;
    int error;
    std::string data;
    bool cut;
  } cases[] = {
      {file, 100, 0, "0123\r\n6789", false},
      {file, 10, 0, "0123\r\n6789", false},
      {file, 4, 0, "0123", true},
      {dir / "missing", 10, ENOENT, "", false},
      {dir.path(), 10, EISDIR, "", false},
  };
  for (const auto& c : cases) {
    std::string data = "stale";
    bool cut = true;
    EXPECT_EQ(ReadFileCapped(c.path, c.cap, &data, &cut), c.error) << c.path << " " << c.cap;
    EXPECT_EQ(data, c.data) << c.path << " " << c.cap;
    EXPECT_EQ(cut, c.cut) << c.path << " " << c.cap;
  }
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
}

TEST(WindowsFileIoTest, WriteReplacesTheFileAndSyncs) {
  testing::TempDir dir;
  const std::string file = dir / "f";
  ASSERT_EQ(WriteFileSynced(file, "a long first text").error, 0);
  const FileWrite second = WriteFileSynced(file, "short");
  EXPECT_EQ(second.error, 0);
  EXPECT_TRUE(second.created);
  std::string data;
  ASSERT_EQ(ReadFileCapped(file, 100, &data), 0);
  EXPECT_EQ(data, "short");

  const FileWrite no_folder = WriteFileSynced(dir / "missing/f", "x");
  EXPECT_EQ(no_folder.error, ENOENT);
  EXPECT_FALSE(no_folder.created);

  EXPECT_EQ(SyncToDisk(file), 0);
  EXPECT_EQ(SyncToDisk(dir.path()), 0);
  EXPECT_EQ(SyncToDisk(dir / "missing"), ENOENT);
}

}  // namespace
}  // namespace quarrin
