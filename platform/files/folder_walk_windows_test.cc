#include "platform/files/folder_walk.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text/wide_text_windows.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

std::wstring Wide(const std::string& path) { return WideFromUtf8Lenient(path); }

void MakeFolder(const std::string& path, DWORD attributes = 0) {
  ASSERT_TRUE(CreateDirectoryW(Wide(path).c_str(), nullptr)) << path;
  if (attributes != 0) SetFileAttributesW(Wide(path).c_str(), attributes);
}

// A file of `bytes` bytes, written as a hole where the file system allows.
void MakeFile(const std::string& path, int64_t bytes, DWORD attributes = 0) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  LARGE_INTEGER size;
  size.QuadPart = bytes;
  EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
  EXPECT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
  if (attributes != 0) SetFileAttributesW(Wide(path).c_str(), attributes);
}

TEST(WindowsFolderWalkTest, CountsEveryFileBelowHiddenAndSystemOnesIncluded) {
  testing::TempDir dir;
  const std::string root = dir.path() + "\\Data";
  MakeFolder(root);
  MakeFile(root + "\\a.txt", 100);
  MakeFile(root + "\\hidden.sys", 20, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFolder(root + "\\sub");
  MakeFolder(root + "\\sub\\deep", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(root + "\\sub\\deep\\big.bin", int64_t{3} << 30);
  MakeFile(root + "\\sub\\deep\\one", 1);
  MakeFolder(root + "\\empty");
  const int64_t expected = 121 + (int64_t{3} << 30);
  EXPECT_EQ(FolderSize(root), expected);
  EXPECT_EQ(FolderSize(root + "\\"), expected);
  EXPECT_EQ(FolderSize(root + "/"), expected);
  EXPECT_EQ(FolderSize(root + "\\sub\\deep"), 1 + (int64_t{3} << 30));
  EXPECT_EQ(FolderSize(root + "\\empty"), 0);
  EXPECT_EQ(FolderSize(root + "\\a.txt"), 0);
  EXPECT_EQ(FolderSize(root + "\\missing"), 0);
  EXPECT_EQ(FolderSize(""), 0);
}

TEST(WindowsFolderWalkTest, DriveFoldersLeaveOutFilesAndHiddenOrSystemFolders) {
  testing::TempDir dir;
  const std::string root = dir.path() + "\\drive";
  MakeFolder(root);
  MakeFolder(root + "\\Windows");
  MakeFolder(root + "\\$Recycle.Bin", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFolder(root + "\\Hidden", FILE_ATTRIBUTE_HIDDEN);
  MakeFolder(root + "\\System Volume Information", FILE_ATTRIBUTE_SYSTEM);
  MakeFolder(root + "\\Users");
  MakeFile(root + "\\pagefile.sys", 10);
  MakeFile(root + "\\Users\\ntuser.dat", 7, FILE_ATTRIBUTE_HIDDEN);

  std::vector<std::string> folders = DriveFolders(root);
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"Users", "Windows"}));
  EXPECT_TRUE(DriveFolders(root + "\\missing").empty());
  EXPECT_EQ(FolderSize(DriveFolderPath(root, "Users")), 7);
  EXPECT_EQ(FolderSize(DriveFolderPath(root + "\\", "Users")), 7);
}

TEST(WindowsFolderWalkTest, LabelsAreTheDrivesRootAndTheName) {
  EXPECT_EQ(DriveFolderLabel("C:\\", "Windows"), "c:\\Windows");
  EXPECT_EQ(DriveFolderLabel("D:", "Data"), "d:\\Data");
  EXPECT_EQ(DriveFolderPath("C:\\", "Windows"), "C:\\Windows");
}

}  // namespace
}  // namespace quarrin
