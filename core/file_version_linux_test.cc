// The version of executables as Linux names and runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/file_version.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(FileVersionTest, TheAgentsExecutablesCarryOneVersion) {
  const std::string agent = GetFileVersion(testing::BuiltExecutable("QuarrinSrvc")).Text;
  EXPECT_NE(agent, "0.0.0.0");
  EXPECT_EQ(GetFileVersion(testing::BuiltExecutable("TARNStartSrvc")).Text, agent);
  EXPECT_EQ(GetFileVersion(testing::BuiltExecutable("quarrinctl")).Text, agent);
}

TEST(FileVersionTest, NeutralForAFifo) {
  testing::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(GetFileVersion(dir / "fifo").Text, "0.0.0.0");
}

// A relative name is taken from the current directory, exactly as written:
// upper and lower case name different files here.
TEST(FileVersionTest, RelativeNamesAndCase) {
  const std::filesystem::path before = std::filesystem::current_path();
  const std::string build_dir =
      std::filesystem::path(testing::BuiltExecutable("stamped_fixture")).parent_path().string();
  ASSERT_EQ(chdir(build_dir.c_str()), 0);
  const std::string exact = GetFileVersion("stamped_fixture").Text;
  const std::string dotted = GetFileVersion("./stamped_fixture").Text;
  const std::string upper = GetFileVersion("STAMPED_FIXTURE").Text;
  std::filesystem::current_path(before);
  EXPECT_EQ(exact, "1.2.3.4");
  EXPECT_EQ(dotted, "1.2.3.4");
  EXPECT_EQ(upper, "0.0.0.0");
}

}  // namespace
}  // namespace quarrin
