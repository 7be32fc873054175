#include "platform/files/private_files.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace quarrin {
namespace {

using testing::TempDir;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The process's umask for the life of the object.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
  ~ScopedUmask() { umask(old_); }

 private:
  mode_t old_;
};

TEST(PrivateFilesTest, FoldersAndFilesArePrivateWhateverTheUmask) {
  TempDir dir;
  ScopedUmask open_to_all(0);
  const std::string state = dir / "var/lib/quarrin";
  MakePrivateFolder(state);
  EXPECT_EQ(ModeOf(state), 0700u);
  EXPECT_EQ(ModeOf(dir / "var/lib"), 0755u);
  MakePrivateFolder(state);  // there already

  // SQLite gives its journal files the database file's mode.
  const std::string db = state + "/registry.db";
  MakePrivateFile(db);
  EXPECT_EQ(ModeOf(db), 0600u);
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(handle, "PRAGMA journal_mode=WAL; CREATE TABLE t(x);", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  EXPECT_EQ(ModeOf(db + "-wal"), 0600u);
  EXPECT_EQ(ModeOf(db + "-shm"), 0600u);
  sqlite3_close(handle);

  testing::WriteFileText(dir / "file", "x");
  EXPECT_THROW(MakePrivateFolder(dir / "file"), std::runtime_error);
  EXPECT_THROW(MakePrivateFile(dir / "missing/file"), std::runtime_error);
}

TEST(PrivateFilesTest, StateFolderThatOthersCouldWriteIsRefused) {
  TempDir dir;
  const std::string state = dir / "state";
  EXPECT_EQ(SecureStateFolder(state), std::nullopt) << "a missing folder is made private later";

  struct {
    const char* name;
    mode_t mode;
    uid_t owner;
    const char* problem;  // null: accepted
  } cases[] = {
      {"private", 0700, geteuid(), nullptr},
      {"readable by others", 0755, geteuid(), nullptr},
      {"group-writable", 0770, geteuid(), "can be written by other users (mode 0770)"},
      {"world-writable", 0777, geteuid(), "can be written by other users (mode 0777)"},
      {"sticky and world-writable", 01777, geteuid(), "can be written by other users (mode 1777)"},
      {"another user's", 0700, 65534, "belongs to user 65534"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(state);
    ASSERT_EQ(mkdir(state.c_str(), 0700), 0);
    ASSERT_EQ(chmod(state.c_str(), c.mode), 0);
    if (c.owner != geteuid() && chown(state.c_str(), c.owner, c.owner) != 0) {
      continue;  // only root can give a folder away
    }
    std::optional<std::string> problem = SecureStateFolder(state);
    if (c.problem == nullptr) {
      EXPECT_EQ(problem, std::nullopt) << c.name;
    } else {
      ASSERT_TRUE(problem.has_value()) << c.name;
      EXPECT_NE(problem->find(c.problem), std::string::npos) << c.name << ": " << *problem;
      EXPECT_EQ(problem->rfind("The state folder " + state, 0), 0u) << *problem;
    }
  }

  std::filesystem::remove_all(state);
  ASSERT_EQ(symlink(dir.path().c_str(), state.c_str()), 0);
  EXPECT_EQ(SecureStateFolder(state), "The state folder " + state + " is not a folder");
}

TEST(PrivateFilesTest, StateLeftOpenByAnOlderAgentIsMadePrivate) {
  TempDir dir;
  const std::string state = dir / "state";
  ASSERT_EQ(mkdir(state.c_str(), 0755), 0);
  ASSERT_EQ(chmod(state.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((state + "/services").c_str(), 0755), 0);
  testing::WriteFileText(state + "/registry.db", "");
  testing::WriteFileText(state + "/tool", "");
  ASSERT_EQ(chmod((state + "/registry.db").c_str(), 0644), 0);
  ASSERT_EQ(chmod((state + "/tool").c_str(), 0755), 0);

  EXPECT_EQ(SecureStateFolder(state), std::nullopt);
  EXPECT_EQ(ModeOf(state), 0700u);
  EXPECT_EQ(ModeOf(state + "/services"), 0700u);
  EXPECT_EQ(ModeOf(state + "/registry.db"), 0600u);
  EXPECT_EQ(ModeOf(state + "/tool"), 0700u);
}

}  // namespace
}  // namespace quarrin
