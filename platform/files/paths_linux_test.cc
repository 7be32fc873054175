#include "platform/files/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(PathsTest, EveryPathIsBelowTheRoot) {
  {
    testing::ScopedEnv root("QUARRIN_ROOT", "/tmp/q1//");  // trailing slashes do not count
    EXPECT_EQ(QuarrinRoot(), "/tmp/q1");
    EXPECT_EQ(StateDir(), "/tmp/q1/var/lib/quarrin");
    EXPECT_EQ(RegistryDbPath(), "/tmp/q1/var/lib/quarrin/registry.db");
    EXPECT_EQ(EventLogDbPath(), "/tmp/q1/var/lib/quarrin/eventlog.db");
    EXPECT_EQ(CommonAppDataDir(), "/tmp/q1/var/lib");
    EXPECT_EQ(ProgramFilesDir(), "/tmp/q1/opt");
    EXPECT_EQ(SystemDriveRoot(), "/tmp/q1/");
    EXPECT_EQ(Rooted("/etc/systemd/system"), "/tmp/q1/etc/systemd/system");
  }
  {
    testing::ScopedEnv root("QUARRIN_ROOT", "");
    EXPECT_EQ(StateDir(), "/var/lib/quarrin");
    EXPECT_EQ(SystemDriveRoot(), "/");
  }
  {
    testing::ScopedEnv root("QUARRIN_ROOT", "/");
    EXPECT_EQ(QuarrinRoot(), "");
    EXPECT_EQ(ProgramFilesDir(), "/opt");
  }
}

TEST(PathsTest, ExecutablePathNamesThisProgram) {
  EXPECT_EQ(ExecutablePath(),
            std::filesystem::canonical(testing::BuiltExecutable("platform_tests")).string());
  EXPECT_EQ(ExecutableName(), "platform_tests");
}

TEST(PathsTest, MakeDirs) {
  testing::TempDir dir;
  EXPECT_TRUE(MakeDirs(dir / "a/b/c"));
  EXPECT_TRUE(MakeDirs(dir / "a/b/c"));  // already there
  testing::WriteFileText(dir / "file", "");
  EXPECT_FALSE(MakeDirs(dir / "file"));
  EXPECT_FALSE(MakeDirs(dir / "file/below"));
}

TEST(PathsTest, LocalComputerNameIsTheHostName) {
  std::string kernel = testing::ReadFileText("/proc/sys/kernel/hostname");
  while (!kernel.empty() && kernel.back() == '\n') kernel.pop_back();
  EXPECT_EQ(LocalComputerName(), kernel);
}

TEST(PathsTest, ProgramFolderIsTheExecutablesFolderAndBecomesCurrent) {
  const std::filesystem::path before = std::filesystem::current_path();
  testing::TempDir elsewhere;
  ASSERT_EQ(chdir(elsewhere.path().c_str()), 0);
  const std::string folder = ProgramFolder();
  const std::filesystem::path now = std::filesystem::current_path();
  std::filesystem::current_path(before);
  EXPECT_EQ(folder,
            std::filesystem::canonical(testing::BuiltExecutable("platform_tests"))
                    .parent_path()
                    .string() +
                "/");
  EXPECT_EQ(now.string() + "/", folder);
}

TEST(PathsTest, SpecialFolders) {
  testing::ScopedEnv root("QUARRIN_ROOT", "/srv/quarrin/");
  EXPECT_EQ(SpecialFolderPath(0x23), "/srv/quarrin/var/lib");
  EXPECT_EQ(SpecialFolderPath(0x26), "/srv/quarrin/opt");
  EXPECT_EQ(SpecialFolderPath(0x1a), "");
  EXPECT_EQ(SpecialFolderPath(0), "");
}

}  // namespace
}  // namespace quarrin
