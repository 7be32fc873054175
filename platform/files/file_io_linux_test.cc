#include "platform/files/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(FileIoTest, ReadFileCappedReadsRegularFilesUpToTheCap) {
  testing::TempDir dir;
  const std::string file = dir / "f";
  ASSERT_EQ(WriteFileSynced(file, "0123456789").error, 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct {
    std::string path;
    size_t cap;
    int error;
    std::string data;
    bool cut;
  } cases[] = {
      {file, 100, 0, "0123456789", false},
      {file, 10, 0, "0123456789", false},
      {file, 4, 0, "0123", true},
      {file, 0, 0, "", true},
      {dir / "missing", 10, ENOENT, "", false},
      {dir.path(), 10, EISDIR, "", false},
      // A FIFO would block a reader for ever; it is refused at once.
      {dir / "fifo", 10, EINVAL, "", false},
      // Kernel files report no size and are read to their end all the same.
      {"/proc/self/stat", 1 << 20, 0, "", false},
  };
  for (const auto& c : cases) {
    std::string data = "stale";
    bool cut = true;
    EXPECT_EQ(ReadFileCapped(c.path, c.cap, &data, &cut), c.error) << c.path << " " << c.cap;
    if (c.path != "/proc/self/stat") {
      EXPECT_EQ(data, c.data) << c.path << " " << c.cap;
    }
    EXPECT_EQ(cut, c.cut) << c.path << " " << c.cap;
  }
  std::string stat;
  ASSERT_EQ(ReadFileCapped("/proc/self/stat", 1 << 20, &stat), 0);
  EXPECT_FALSE(stat.empty());
}

TEST(FileIoTest, WriteFileSyncedReplacesTheFileAndNeverFollowsALink) {
  testing::TempDir dir;
  const std::string file = dir / "f";
  ASSERT_EQ(WriteFileSynced(file, "a long first text").error, 0);
  const FileWrite second = WriteFileSynced(file, "short", 0600);
  EXPECT_EQ(second.error, 0);
  EXPECT_TRUE(second.created);
  EXPECT_EQ(testing::ReadFileText(file), "short");

  std::filesystem::create_symlink(file, dir / "link");
  const FileWrite through_link = WriteFileSynced(dir / "link", "x");
  EXPECT_EQ(through_link.error, ELOOP);
  EXPECT_FALSE(through_link.created);
  EXPECT_EQ(testing::ReadFileText(file), "short");

  const FileWrite no_folder = WriteFileSynced(dir / "missing/f", "x");
  EXPECT_EQ(no_folder.error, ENOENT);
  EXPECT_EQ(ErrnoMessage("Cannot create " + (dir / "missing/f"), no_folder.error),
            "Cannot create " + (dir / "missing/f") + ": No such file or directory");
}

TEST(FileIoTest, FileExistsIsFalseForFolders) {
  testing::TempDir dir;
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  ASSERT_EQ(WriteFileSynced(dir / "f", "").error, 0);
  EXPECT_TRUE(FileExists(dir / "f"));
  EXPECT_EQ(SyncToDisk(dir.path()), 0);
  EXPECT_EQ(SyncToDisk(dir / "missing"), ENOENT);
}

}  // namespace
}  // namespace quarrin
