#include "platform/process/process_linux.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ios>
#include <iterator>
#include <string>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(WriteFileAtomicallyTest, TheFileGetsItsModeWhateverTheUmask) {
  struct Case {
    mode_t mode;
    mode_t mask;
  };
  for (const Case& c : {Case{0600, 0}, Case{0644, 0}, Case{0644, 077}}) {
    testing::TempDir dir;
    const std::string path = dir / "file";
    testing::WriteFileText(path, "old");
    chmod(path.c_str(), 0666);
    const mode_t old_mask = umask(c.mask);
    const bool written = WriteFileAtomically(path, "new", c.mode);
    umask(old_mask);
    ASSERT_TRUE(written);
    EXPECT_EQ(testing::ReadFileText(path), "new");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << std::oct << c.mode << " under umask " << c.mask;
    // Nothing left beside it but the file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
              1);
  }
}

}  // namespace
}  // namespace quarrin
