#include "platform/files/file_replace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files/paths.h"
#include "platform/text/utf8.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using testing::TempDir;

// Files named in UTF-8 on every system (test_support's helpers take the
// narrow names of the system's code page on Windows).
void Write(const std::string& path, const std::string& text) {
  std::ofstream(PathFromUtf8(path), std::ios::binary) << text;
}
std::string Read(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(FileReplaceTest, TheDownloadReplacesTheExecutableAndThePreviousOneIsKept) {
  TempDir dir;
  // Names beyond ASCII, as an installation folder may have.
  const std::string exe = dir / "Programme-\xc3\xa4/QuarrinSrvc.exe";
  const std::string download = dir / "Programme-\xc3\xa4/~QuarrinSrvc.exe";
  const std::string backup = exe + ".previous";
  std::filesystem::create_directory(PathFromUtf8(dir / "Programme-\xc3\xa4"));
  Write(exe, "old");
  Write(download, "new");
  Write(backup, "older");  // left by an earlier update

  EXPECT_EQ(KeepPreviousFile(exe, backup), std::nullopt);
  EXPECT_EQ(TakeExecutablePermissions(download, exe), std::nullopt);
  EXPECT_EQ(RenameOver(download, exe), std::nullopt);
  EXPECT_EQ(Read(exe), "new");
  EXPECT_EQ(KindOfFile(download, false), FileKind::kMissing);
  // The backup is the previous file, untouched by the rename over its
  // first name.
  EXPECT_EQ(Read(backup), "old");

  // The way back.
  EXPECT_EQ(RenameOver(backup, exe), std::nullopt);
  EXPECT_EQ(Read(exe), "old");
  EXPECT_EQ(KindOfFile(backup, false), FileKind::kMissing);
}

TEST(FileReplaceTest, KindsOfFilesAndFailures) {
  TempDir dir;
  Write(dir / "file", "x");
  std::string why;
  EXPECT_EQ(KindOfFile(dir / "file", false), FileKind::kRegular);
  EXPECT_EQ(KindOfFile(dir.path(), true), FileKind::kOther);
  EXPECT_EQ(KindOfFile(dir / "none", false, &why), FileKind::kMissing);
  EXPECT_FALSE(why.empty());

  // Renaming nothing fails with the system's reason and changes nothing.
  std::optional<std::string> failed = RenameOver(dir / "none", dir / "file");
  ASSERT_TRUE(failed.has_value());
  EXPECT_FALSE(failed->empty());
  EXPECT_EQ(Read(dir / "file"), "x");
  EXPECT_TRUE(KeepPreviousFile(dir / "none", dir / "none.previous").has_value());
  EXPECT_EQ(KindOfFile(dir / "none.previous", false), FileKind::kMissing);

  EXPECT_EQ(MarkExecutable(dir / "file"), std::nullopt);
  EXPECT_EQ(RemoveFile(dir / "file"), std::nullopt);
  EXPECT_EQ(KindOfFile(dir / "file", false), FileKind::kMissing);
  EXPECT_EQ(RemoveFile(dir / "file"), std::nullopt);  // gone already
  EXPECT_TRUE(RemoveFile(dir.path()).has_value());     // a folder is no file
}

TEST(FileReplaceTest, OnlyAProgramForThisMachineIsAnExecutable) {
  EXPECT_TRUE(ExecutableForThisMachine(ExecutablePath()));
  TempDir dir;
  // The running program's first bytes: its headers' beginning, not a whole
  // set of them.
  Write(dir / "cut", Read(ExecutablePath()).substr(0, 40));
  Write(dir / "text", "MZ\x7f" "ELF, but only text");
  for (const std::string name : {"cut", "text", "none"}) {
    EXPECT_FALSE(ExecutableForThisMachine(dir / name)) << name;
  }
  EXPECT_FALSE(ExecutableForThisMachine(dir.path()));
}

}  // namespace
}  // namespace quarrin
