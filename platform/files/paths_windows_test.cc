// The folders of the running Windows machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "platform/files/paths.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::EndsWith;
using ::testing::MatchesRegex;

TEST(WindowsPathsTest, TheExecutableAndItsFolder) {
  EXPECT_EQ(ExecutableName(), "platform_tests.exe");
  EXPECT_THAT(ExecutablePath(), EndsWith("\\platform_tests.exe"));
  const std::filesystem::path before = std::filesystem::current_path();
  const std::string folder = ProgramFolder();
  std::filesystem::current_path(before);
  EXPECT_EQ(folder + "platform_tests.exe", ExecutablePath());
}

TEST(WindowsPathsTest, SystemFolders) {
  EXPECT_THAT(SystemDriveRoot(), MatchesRegex("^\\w:\\\\$"));
  for (int csidl : {kCsidlCommonAppData, kCsidlProgramFiles}) {
    const std::string path = SpecialFolderPath(csidl);
    EXPECT_THAT(path, MatchesRegex("^\\w:\\\\.+")) << csidl;
    EXPECT_THAT(path, ::testing::Not(EndsWith("\\"))) << csidl;
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              DWORD{FILE_ATTRIBUTE_DIRECTORY})
        << path;
  }
  EXPECT_EQ(CommonAppDataDir(), SpecialFolderPath(kCsidlCommonAppData));
  EXPECT_EQ(ProgramFilesDir(), SpecialFolderPath(kCsidlProgramFiles));
  EXPECT_EQ(SpecialFolderPath(0x1a), "");  // the agent asks for no other
  EXPECT_FALSE(LocalComputerName().empty());
}

TEST(WindowsPathsTest, StateFolderIsBelowCommonAppData) {
  EXPECT_EQ(StateDir(), CommonAppDataDir() + "\\TARN\\Quarrin");
  EnsureStateFolder();
  EXPECT_TRUE(std::filesystem::is_directory(StateDir()));
  EnsureStateFolder();  // there already
}

TEST(WindowsPathsTest, MakeDirsTakesUtf8) {
  testing::TempDir dir;
  const std::string path = dir / "caf\xc3\xa9\\deeper";
  EXPECT_TRUE(MakeDirs(path));
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(dir.path()) / L"caf\u00e9"));
  EXPECT_TRUE(MakeDirs(path));  // there already
  EXPECT_FALSE(MakeDirs("\xff"));
}

}  // namespace
}  // namespace quarrin
