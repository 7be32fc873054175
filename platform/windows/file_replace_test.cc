// What only Windows has of the executable replacement.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/file_replace.h"
#include "platform/windows/wide_text.h"

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

}  // namespace
}  // namespace quarrin
