// The facts of the running Windows machine: clock, disk, memory and folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/time/clock.h"
#include "platform/time/date_time.h"
#include "platform/files/disk_space.h"
#include "platform/system/memory.h"
#include "platform/files/paths.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::EndsWith;
using ::testing::MatchesRegex;

TEST(WindowsClockTest, NowIsTheLocalTimeAndSinceBootCounts) {
  const int64_t unix_ms = static_cast<int64_t>(std::time(nullptr)) * 1000;
  const int64_t now_ms = UnixMsFromLocalDateTime(SystemClock().Now());
  EXPECT_LT(std::abs(now_ms - unix_ms), 2000);

  const std::chrono::milliseconds before = SystemClock().SinceBoot();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::chrono::milliseconds after = SystemClock().SinceBoot();
  EXPECT_GT(before.count(), 0);
  EXPECT_GE((after - before).count(), 40);
}

TEST(WindowsSystemTest, DiskAndMemoryHaveSizes) {
  int64_t total = -1, free = -1;
  ASSERT_TRUE(SystemDriveSpace().Query(&total, &free));
  EXPECT_GT(total, 0);
  EXPECT_GE(free, 0);
  EXPECT_LE(free, total);
  EXPECT_GT(TotalPhysicalMemory(), uint64_t{64} << 20);  // so the text is not "0MB"
  EXPECT_THAT(MemoryText(), MatchesRegex("^\\d+MB$"));
}

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
