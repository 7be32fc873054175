#include "core/file_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

TEST(FileVersionTest, TheAgentsExecutablesCarryOneVersion) {
  const std::string agent = GetFileVersion(testing::BuiltExecutable("QuarrinSrvc")).Text;
  EXPECT_NE(agent, "0.0.0.0");
  EXPECT_EQ(GetFileVersion(testing::BuiltExecutable("TARNStartSrvc")).Text, agent);
  EXPECT_EQ(GetFileVersion(testing::BuiltExecutable("quarrinctl")).Text, agent);
}

TEST(FileVersionTest, NeutralWithoutAResource) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "readme.txt", "not a program\n");
  const std::string fixture = testing::ReadFileText(testing::BuiltExecutable("stamped_fixture"));
  testing::WriteFileText(dir / "truncated", fixture.substr(0, fixture.size() / 2));
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& name : {dir / "readme.txt", dir / "missing", dir.path(), dir / "truncated",
                                  dir / "fifo", std::string("")}) {  // "": this test program
    const tFileVersion v = GetFileVersion(name);
    EXPECT_EQ(v.Text, "0.0.0.0") << name;
    EXPECT_EQ(v.Major + v.Minor + v.Release + v.Build, 0) << name;
  }
}

// A relative name is taken from the current directory, exactly as written:
// upper and lower case name different files here.
TEST(FileVersionTest, RelativeNamesAndCase) {
  const std::filesystem::path before = std::filesystem::current_path();
  ASSERT_EQ(chdir(QUARRIN_BUILD_DIR), 0);
  const std::string exact = GetFileVersion("stamped_fixture").Text;
  const std::string dotted = GetFileVersion("./stamped_fixture").Text;
  const std::string upper = GetFileVersion("STAMPED_FIXTURE").Text;
  std::filesystem::current_path(before);
  EXPECT_EQ(exact, "1.2.3.4");
  EXPECT_EQ(dotted, "1.2.3.4");
  EXPECT_EQ(upper, "0.0.0.0");
}

TEST(FileVersionTest, VersionText) {
  EXPECT_EQ(VersionText(10, 11, 31, 0), "10.11.31.0");
  EXPECT_EQ(VersionText(0, 0, 0, 0), "0.0.0.0");
  EXPECT_EQ(VersionText(65535, 65535, 65535, 65535), "65535.65535.65535.65535");
}

}  // namespace
}  // namespace quarrin
