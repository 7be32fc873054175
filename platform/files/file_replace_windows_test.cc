// What only Windows has of the executable replacement.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/files/file_replace.h"
#include "platform/text/wide_text_windows.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(WindowsFileReplaceTest, ADllIsNoExecutable) {
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::string dll = Utf8FromWide(std::wstring(system, n)) + "\\kernel32.dll";
  ASSERT_EQ(KindOfFile(dll, true), FileKind::kRegular) << dll;
  EXPECT_FALSE(ExecutableForThisMachine(dll));
}

TEST(WindowsFileReplaceTest, AFileStillHeldIsInUseUntilItIsLetGo) {
  testing::TempDir dir;
  const std::string exe = dir / "QuarrinSrvc.exe";
  const std::string download = dir / "~QuarrinSrvc.exe";
  testing::WriteFileText(exe, "old");
  testing::WriteFileText(download, "new");
  // As a program that is still ending holds its executable.
  HANDLE held = CreateFileW(WideFromUtf8(exe)->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  bool in_use = false;
  EXPECT_TRUE(RenameOver(download, exe, &in_use).has_value());
  EXPECT_TRUE(in_use);
  CloseHandle(held);
  EXPECT_EQ(RenameOver(download, exe, &in_use), std::nullopt);
  EXPECT_FALSE(in_use);
  EXPECT_EQ(testing::ReadFileText(exe), "new");
}

}  // namespace
}  // namespace quarrin
