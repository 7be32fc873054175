#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry/registry_store.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::TempDir;

constexpr RootKey kLM = RootKey::kLocalMachine;

RegValue Sz(std::string text) {
  text.push_back('\0');
  return {ValueType::kString, text};
}

// Forks a child that runs `body` and exits 0 when it returns, 1 when it throws.
pid_t ForkChild(const std::function<void()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    int status = 0;
    try {
      body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
      status = 1;
    }
    _exit(status);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class SqliteRegistryStoreTest : public ::testing::Test {
 protected:
  std::string db_path() const { return dir_ / "registry.db"; }
  RegistryStore& store() {
    if (!store_) store_ = OpenSqliteRegistryStore(db_path());
    return *store_;
  }
  void Reopen() {
    store_.reset();
    store_ = OpenSqliteRegistryStore(db_path());
  }

  TempDir dir_;
  std::unique_ptr<RegistryStore> store_;
};

TEST_F(SqliteRegistryStoreTest, NamesCompareWithoutCaseAndKeepTheCaseTheyWereCreatedWith) {
  ASSERT_TRUE(store().CreateKey(kLM, "Software\\TARN"));
  EXPECT_TRUE(store().KeyExists(kLM, "SOFTWARE\\tarn"));
  ASSERT_TRUE(store().CreateKey(kLM, "SOFTWARE\\tarn\\Sub"));
  EXPECT_THAT(store().SubkeyNames(kLM, ""), ElementsAre("Software"));
  EXPECT_THAT(store().SubkeyNames(kLM, "software"), ElementsAre("TARN"));
  EXPECT_FALSE(store().KeyExists(RootKey::kClassesRoot, "Software"));  // roots are apart

  ASSERT_TRUE(store().SetValue(kLM, "software\\tarn", "SerialNo", Sz("A1")));
  ASSERT_TRUE(store().SetValue(kLM, "SOFTWARE\\TARN", "SERIALNO", Sz("B2")));
  EXPECT_THAT(store().ValueNames(kLM, "Software\\TARN"), ElementsAre("SerialNo"));
  EXPECT_EQ(store().GetValue(kLM, "Software\\TARN", "serialno"), Sz("B2"));
}

TEST_F(SqliteRegistryStoreTest, ValuesEnumerateInCreationOrderAndKeepTheirPlace) {
  ASSERT_TRUE(store().CreateKey(kLM, "K"));
  for (const char* name : {"b", "a", "C"}) ASSERT_TRUE(store().SetValue(kLM, "K", name, Sz(name)));
  ASSERT_TRUE(store().SetValue(kLM, "K", "B", Sz("again")));  // keeps its place
  EXPECT_THAT(store().ValueNames(kLM, "K"), ElementsAre("b", "a", "C"));
  ASSERT_TRUE(store().DeleteValue(kLM, "K", "A"));
  EXPECT_FALSE(store().DeleteValue(kLM, "K", "a"));
  ASSERT_TRUE(store().SetValue(kLM, "K", "a", Sz("new")));  // a new value goes last
  EXPECT_THAT(store().ValueNames(kLM, "K"), ElementsAre("b", "C", "a"));

  std::vector<NamedValue> values = store().Values(kLM, "k");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].name, "b");
  EXPECT_EQ(values[0].value, Sz("again"));
  EXPECT_EQ(values[2].value, Sz("new"));
}

TEST_F(SqliteRegistryStoreTest, ValueBytesAndTypesComeBackExactly) {
  ASSERT_TRUE(store().CreateKey(kLM, "K"));
  const RegValue cases[] = {
      {ValueType::kBinary, std::string("\0\x01\xff\0", 4)},
      {ValueType::kBinary, ""},  // no bytes at all, not NULL
      {ValueType::kString, ""},
      {static_cast<ValueType>(11), std::string(8, '\x7f')},
      {ValueType::kDword, std::string(9, '\0')},
  };
  for (const RegValue& value : cases) {
    ASSERT_TRUE(store().SetValue(kLM, "K", "v", value));
    EXPECT_EQ(store().GetValue(kLM, "K", "v"), value) << static_cast<int>(value.type);
  }
  ASSERT_TRUE(store().SetValue(kLM, "K", "", Sz("default")));  // the unnamed value
  EXPECT_EQ(store().GetValue(kLM, "K", ""), Sz("default"));
  EXPECT_FALSE(store().GetValue(kLM, "K", "missing").has_value());
  EXPECT_FALSE(store().GetValue(kLM, "Missing", "v").has_value());
  EXPECT_FALSE(store().SetValue(kLM, "Missing", "v", Sz("x")));
  EXPECT_FALSE(store().KeyExists(kLM, "Missing"));
  EXPECT_THAT(store().ValueNames(kLM, "Missing"), IsEmpty());
}

TEST_F(SqliteRegistryStoreTest, DeleteKeyRemovesTheWholeSubtreeAndNothingBeside) {
  // Siblings whose names sort right next to "B" and to "B\...".
  for (const char* path : {"A\\B\\C\\D", "A\\B\\C2", "A\\B[", "A\\B]", "A\\BC", "AB", "A\\b2"}) {
    ASSERT_TRUE(store().CreateKey(kLM, path)) << path;
    ASSERT_TRUE(store().SetValue(kLM, path, "v", Sz(path)));
  }
  ASSERT_TRUE(store().SetValue(kLM, "A\\B", "top", Sz("x")));

  ASSERT_TRUE(store().DeleteKey(kLM, "a\\b"));
  for (const char* gone : {"A\\B", "A\\B\\C", "A\\B\\C\\D", "A\\B\\C2"}) {
    EXPECT_FALSE(store().KeyExists(kLM, gone)) << gone;
  }
  for (const char* kept : {"A\\B[", "A\\B]", "A\\BC", "AB", "A\\b2"}) {
    EXPECT_EQ(store().GetValue(kLM, kept, "v"), Sz(kept)) << kept;
  }
  EXPECT_THAT(store().SubkeyNames(kLM, "A"), ElementsAre("B[", "B]", "BC", "b2"));
  // Recreated, the key starts empty: its values went with it.
  ASSERT_TRUE(store().CreateKey(kLM, "A\\B\\C"));
  EXPECT_THAT(store().ValueNames(kLM, "A\\B"), IsEmpty());
  EXPECT_THAT(store().ValueNames(kLM, "A\\B\\C"), IsEmpty());

  EXPECT_FALSE(store().DeleteKey(kLM, "A\\Missing"));
  EXPECT_FALSE(store().DeleteKey(kLM, ""));  // a root stays
}

TEST_F(SqliteRegistryStoreTest, PathsWithAnEmptyNameAreRefusedAndCreateNothing) {
  for (const char* bad : {"A\\\\B", "\\A", "A\\", "\\"}) {
    EXPECT_FALSE(store().CreateKey(kLM, bad)) << bad;
  }
  EXPECT_THAT(store().SubkeyNames(kLM, ""), IsEmpty());
  EXPECT_TRUE(store().CreateKey(kLM, ""));  // the root itself
  EXPECT_TRUE(store().KeyExists(kLM, ""));
}

TEST_F(SqliteRegistryStoreTest, WritesSurviveReopening) {
  ASSERT_TRUE(store().CreateKey(kLM, "SOFTWARE\\TARN"));
  ASSERT_TRUE(store().SetValue(kLM, "SOFTWARE\\TARN", "Comment", Sz("kept")));
  Reopen();
  EXPECT_EQ(store().GetValue(kLM, "software\\tarn", "comment"), Sz("kept"));
}

TEST_F(SqliteRegistryStoreTest, AtomicallyKeepsAllOrNothing) {
  ASSERT_TRUE(store().CreateKey(kLM, "K"));
  EXPECT_THROW(store().Atomically([](RegistryStore& s) {
    ASSERT_TRUE(s.SetValue(kLM, "K", "first", Sz("1")));
    ASSERT_TRUE(s.CreateKey(kLM, "K\\Sub"));
    EXPECT_EQ(s.GetValue(kLM, "K", "first"), Sz("1"));  // seen inside
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_THAT(store().ValueNames(kLM, "K"), IsEmpty());
  EXPECT_FALSE(store().KeyExists(kLM, "K\\Sub"));

  store().Atomically([](RegistryStore& s) {
    s.CreateKey(kLM, "K\\Sub");
    s.SetValue(kLM, "K\\Sub", "v", Sz("1"));
  });
  EXPECT_EQ(store().GetValue(kLM, "K\\Sub", "v"), Sz("1"));
}

// Reads are served from memory while nothing changed; any commit elsewhere
// must show at once.
TEST_F(SqliteRegistryStoreTest, ReadsSeeCommitsOfOtherConnectionsAndProcesses) {
  ASSERT_TRUE(store().CreateKey(kLM, "K"));
  ASSERT_TRUE(store().SetValue(kLM, "K", "v", Sz("1")));
  ASSERT_EQ(store().GetValue(kLM, "K", "v"), Sz("1"));
  ASSERT_FALSE(store().GetValue(kLM, "K", "w").has_value());
  ASSERT_TRUE(store().KeyExists(kLM, "K"));

  auto other = OpenSqliteRegistryStore(db_path());
  ASSERT_TRUE(other->SetValue(kLM, "K", "v", Sz("2")));
  ASSERT_TRUE(other->SetValue(kLM, "K", "w", Sz("new")));
  EXPECT_EQ(store().GetValue(kLM, "K", "v"), Sz("2"));
  EXPECT_EQ(store().GetValue(kLM, "K", "w"), Sz("new"));

  pid_t child = ForkChild([&] {
    auto s = OpenSqliteRegistryStore(db_path());
    s->DeleteKey(kLM, "K");
  });
  ASSERT_EQ(WaitExit(child), 0);
  EXPECT_FALSE(store().KeyExists(kLM, "K"));
  EXPECT_FALSE(store().GetValue(kLM, "K", "v").has_value());
}

// Files that are not this store: refused with the file's name, left untouched.
TEST_F(SqliteRegistryStoreTest, RefusesFilesThatAreNotARegistryStore) {
  const std::string other_db = dir_ / "other.db";
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other_db.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
  }
  const std::string text_file = dir_ / "text.db";
  testing::WriteFileText(text_file, "[HKEY_LOCAL_MACHINE\\SOFTWARE]\nnot a database at all, " +
                                        std::string(4096, 'x'));
  const std::string header_only = dir_ / "torn.db";
  testing::WriteFileText(header_only,
                         std::string("SQLite format 3\0", 16) + std::string(84, '\x01'));

  struct Case {
    std::string path;
    std::string message;
  } cases[] = {
      {text_file, ": not a database"},
      {header_only, ": not a database"},
      {other_db, ": not a registry store"},
      {dir_.path(), ": cannot open"},
      {dir_ / "no/such/folder/registry.db", ": cannot open"},
  };
  for (const Case& c : cases) {
    std::error_code ec;
    const bool is_file = std::filesystem::is_regular_file(c.path, ec);
    const std::string before = is_file ? testing::ReadFileText(c.path) : "";
    try {
      OpenSqliteRegistryStore(c.path);
      ADD_FAILURE() << c.path << " was opened";
    } catch (const StoreError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.path + c.message)) << c.path;
    }
    if (is_file) {
      EXPECT_EQ(testing::ReadFileText(c.path), before) << c.path;
    }
  }
}

TEST_F(SqliteRegistryStoreTest, WriteWaitsForAnotherProcessThenReportsTheLock) {
  store().CreateKey(kLM, "K");
  auto impatient = OpenSqliteRegistryStore(db_path(), /*busy_timeout_ms=*/100);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db_path().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  try {
    impatient->SetValue(kLM, "K", "v", Sz("x"));
    ADD_FAILURE() << "write went through a held lock";
  } catch (const StoreError& e) {
    EXPECT_EQ(std::string(e.what()), db_path() + ": locked by another process");
  }
  EXPECT_TRUE(impatient->KeyExists(kLM, "K"));  // readers are not held up

  // A lock released within the wait is waited for.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_TRUE(store().SetValue(kLM, "K", "v", Sz("y")));
  release.join();
  sqlite3_close(holder);
  EXPECT_EQ(impatient->GetValue(kLM, "K", "v"), Sz("y"));
}

TEST_F(SqliteRegistryStoreTest, ConcurrentThreadsLoseNoWrite) {
  ASSERT_TRUE(store().CreateKey(kLM, "Shared"));
  constexpr int kThreads = 6, kWrites = 100;
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i) {
        const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        store().Atomically([&](RegistryStore& s) {
          s.SetValue(kLM, "Shared", name, Sz(name));
          s.SetValue(kLM, "Shared", name + "_pair", Sz(name));
        });
        // A reader never sees one half of the pair without the other.
        std::vector<NamedValue> values = store().Values(kLM, "Shared");
        if (values.size() % 2 != 0) torn = true;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ(store().ValueNames(kLM, "Shared").size(), size_t{2 * kThreads * kWrites});
}

TEST_F(SqliteRegistryStoreTest, TwoProcessesWritingOneKeyAtOnceLoseNoWrite) {
  constexpr int kWrites = 300;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    children.push_back(ForkChild([&, p] {
      close(go[1]);
      char c;
      if (read(go[0], &c, 1) != 0) return;  // released together when the pipe closes
      // Both open the same fresh file at the same moment.
      auto s = OpenSqliteRegistryStore(db_path());
      for (int i = 0; i < kWrites; ++i) {
        const std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        if (!s->CreateKey(kLM, "SOFTWARE\\Shared") ||
            !s->SetValue(kLM, "SOFTWARE\\Shared", name, Sz(name))) {
          throw std::runtime_error("write refused: " + name);
        }
      }
    }));
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : children) EXPECT_EQ(WaitExit(pid), 0);
  std::vector<std::string> names = store().ValueNames(kLM, "SOFTWARE\\Shared");
  EXPECT_EQ(names.size(), size_t{2 * kWrites});
  for (int p = 0; p < 2; ++p) {
    std::vector<std::string> own;
    for (const auto& n : names) {
      if (n.starts_with("p" + std::to_string(p) + "_")) own.push_back(n);
    }
    ASSERT_EQ(own.size(), size_t{kWrites});
    // Each process's values keep the order it wrote them in.
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(own[static_cast<size_t>(i)], "p" + std::to_string(p) + "_" + std::to_string(i));
  }
}

TEST_F(SqliteRegistryStoreTest, EveryWriteThatReturnedSurvivesKillMinus9) {
  store().CreateKey(kLM, "K");
  int done[2];
  ASSERT_EQ(pipe(done), 0);
  pid_t child = ForkChild([&] {
    close(done[0]);
    auto s = OpenSqliteRegistryStore(db_path());
    for (uint32_t i = 0;; ++i) {
      s->SetValue(kLM, "K", "v" + std::to_string(i), Sz(std::to_string(i)));
      if (write(done[1], &i, sizeof i) != sizeof i) return;  // reported only once returned
    }
  });
  close(done[1]);
  uint32_t last = 0;
  for (int reported = 0; reported < 200;) {
    ASSERT_EQ(read(done[0], &last, sizeof last), static_cast<ssize_t>(sizeof last));
    ++reported;
  }
  kill(child, SIGKILL);
  EXPECT_EQ(WaitExit(child), 128 + SIGKILL);
  // Whatever else was reported before the kill landed counts too.
  uint32_t more;
  while (read(done[0], &more, sizeof more) == static_cast<ssize_t>(sizeof more)) last = more;
  close(done[0]);

  Reopen();
  for (uint32_t i = 0; i <= last; ++i) {
    ASSERT_EQ(store().GetValue(kLM, "K", "v" + std::to_string(i)), Sz(std::to_string(i))) << i;
  }
}

}  // namespace
}  // namespace quarrin
