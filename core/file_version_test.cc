#include "core/file_version.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(FileVersionTest, VersionOfAStampedExecutable) {
  const tFileVersion v = GetFileVersion(testing::BuiltExecutable("stamped_fixture"));
  EXPECT_EQ(v.Major, 1);
  EXPECT_EQ(v.Minor, 2);
  EXPECT_EQ(v.Release, 3);
  EXPECT_EQ(v.Build, 4);
  EXPECT_EQ(v.Text, "1.2.3.4");
}

TEST(FileVersionTest, NeutralWithoutAResource) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "readme.txt", "not a program\n");
  const std::string fixture = testing::ReadFileText(testing::BuiltExecutable("stamped_fixture"));
  testing::WriteFileText(dir / "truncated", fixture.substr(0, 512));  // headers only
  for (const std::string& name : {dir / "readme.txt", dir / "missing", dir.path(),
                                  dir / "truncated", std::string("")}) {  // "": this test program
    const tFileVersion v = GetFileVersion(name);
    EXPECT_EQ(v.Text, "0.0.0.0") << name;
    EXPECT_EQ(v.Major + v.Minor + v.Release + v.Build, 0) << name;
  }
}

TEST(FileVersionTest, VersionText) {
  EXPECT_EQ(VersionText(10, 11, 31, 0), "10.11.31.0");
  EXPECT_EQ(VersionText(0, 0, 0, 0), "0.0.0.0");
  EXPECT_EQ(VersionText(65535, 65535, 65535, 65535), "65535.65535.65535.65535");
}

}  // namespace
}  // namespace quarrin
