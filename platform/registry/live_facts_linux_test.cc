#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry/registry_open.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/system_facts.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr RootKey kLM = RootKey::kLocalMachine;

RegValue Sz(std::string text) {
  text.push_back('\0');
  return {ValueType::kString, text};
}

// Facts held in a table, as the machine would answer them.
class TableFacts final : public SystemFacts {
 public:
  struct Key {
    std::vector<std::string> subkeys;
    std::vector<NamedValue> values;
  };
  std::map<std::string, Key> keys;  // by folded path below HKEY_LOCAL_MACHINE

  bool HasKey(RootKey root, std::string_view path) override { return Find(root, path) != nullptr; }
  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) override {
    const Key* k = Find(root, path);
    return k ? k->subkeys : std::vector<std::string>{};
  }
  std::vector<NamedValue> Values(RootKey root, std::string_view path) override {
    const Key* k = Find(root, path);
    return k ? k->values : std::vector<NamedValue>{};
  }

 private:
  const Key* Find(RootKey root, std::string_view path) const {
    if (root != kLM) return nullptr;
    auto it = keys.find(FoldName(path));
    return it == keys.end() ? nullptr : &it->second;
  }
};

class LiveFactsTest : public ::testing::Test {
 protected:
  LiveFactsTest() : stored_(OpenSqliteRegistryStore(dir_ / "registry.db")) {
    facts_.keys["system"] = {{"Setup", "CurrentControlSet"}, {}};
    facts_.keys["system\\setup"] = {{}, {}};
    facts_.keys["system\\currentcontrolset"] = {
        {}, {{"ComputerName", Sz("live-pc")}, {"Edition", Sz("Linux")}}};
    view_ = WithLiveFacts(*stored_, facts_);
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> stored_;
  TableFacts facts_;
  std::unique_ptr<RegistryStore> view_;
};

TEST_F(LiveFactsTest, StoredValuesComeFirstAndFactsFillIn) {
  const std::string key = "SYSTEM\\CurrentControlSet";
  EXPECT_TRUE(view_->KeyExists(kLM, key));
  EXPECT_FALSE(stored_->KeyExists(kLM, key));
  EXPECT_EQ(view_->GetValue(kLM, key, "computername"), Sz("live-pc"));

  // Pinning a fact: the first write creates the key in the store.
  ASSERT_TRUE(view_->SetValue(kLM, key, "COMPUTERNAME", Sz("pinned")));
  ASSERT_TRUE(view_->SetValue(kLM, key, "Owner", Sz("admin")));
  EXPECT_TRUE(stored_->KeyExists(kLM, key));
  EXPECT_EQ(view_->GetValue(kLM, key, "ComputerName"), Sz("pinned"));
  EXPECT_EQ(view_->GetValue(kLM, key, "Edition"), Sz("Linux"));

  // Names: stored ones first in their order, then the facts not stored.
  EXPECT_THAT(view_->ValueNames(kLM, key), ElementsAre("COMPUTERNAME", "Owner", "Edition"));
  std::vector<NamedValue> values = view_->Values(kLM, key);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].value, Sz("pinned"));
  EXPECT_EQ(values[2].name, "Edition");

  // Deleting the pinned value lets the fact show again; a fact itself stays.
  EXPECT_TRUE(view_->DeleteValue(kLM, key, "ComputerName"));
  EXPECT_EQ(view_->GetValue(kLM, key, "ComputerName"), Sz("live-pc"));
  EXPECT_FALSE(view_->DeleteValue(kLM, key, "Edition"));
  EXPECT_FALSE(view_->GetValue(kLM, key, "Missing").has_value());
}

TEST_F(LiveFactsTest, SubkeysAreTheUnionStoredFirst) {
  ASSERT_TRUE(stored_->CreateKey(kLM, "SYSTEM\\Pinned"));
  ASSERT_TRUE(stored_->CreateKey(kLM, "SYSTEM\\SETUP"));
  EXPECT_THAT(view_->SubkeyNames(kLM, "system"),
              ElementsAre("Pinned", "SETUP", "CurrentControlSet"));
  EXPECT_THAT(view_->SubkeyNames(kLM, ""), ElementsAre("SYSTEM"));  // stored only here
  EXPECT_FALSE(view_->KeyExists(RootKey::kClassesRoot, "SYSTEM"));
  EXPECT_FALSE(view_->SetValue(kLM, "Neither", "v", Sz("x")));  // no such key anywhere
}

TEST_F(LiveFactsTest, AtomicallyWritesThroughToTheStoreAsOneTransaction) {
  EXPECT_THROW(view_->Atomically([](RegistryStore& s) {
    ASSERT_TRUE(s.SetValue(kLM, "SYSTEM\\Setup", "v", Sz("x")));  // a fact key, created
    EXPECT_EQ(s.GetValue(kLM, "SYSTEM\\Setup", "v"), Sz("x"));
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_FALSE(stored_->KeyExists(kLM, "SYSTEM\\Setup"));
  view_->Atomically([](RegistryStore& s) { s.SetValue(kLM, "SYSTEM\\Setup", "v", Sz("x")); });
  EXPECT_EQ(stored_->GetValue(kLM, "SYSTEM\\Setup", "v"), Sz("x"));
}

TEST(LiveFactsEnabledTest, OnlyZeroSwitchesItOff) {
  struct Case {
    const char* value;  // nullptr: unset
    bool enabled;
  } cases[] = {{nullptr, true}, {"0", false}, {"1", true}, {"", true}, {"00", true}};
  for (const Case& c : cases) {
    testing::ScopedEnv env("QUARRIN_LIVE_FACTS", c.value ? c.value : "");
    if (!c.value) unsetenv("QUARRIN_LIVE_FACTS");
    EXPECT_EQ(LiveFactsEnabled(), c.enabled) << (c.value ? c.value : "(unset)");
  }
}

TEST(OpenDefaultRegistryTest, OpensTheStoreBelowTheRootWithOrWithoutTheLiveView) {
  testing::TempDir root;
  testing::ScopedEnv env_root("QUARRIN_ROOT", root.path());
  {
    testing::ScopedEnv env_facts("QUARRIN_LIVE_FACTS", "0");
    OpenedRegistry registry = OpenDefaultRegistry();
    EXPECT_EQ(registry.view, nullptr);
    EXPECT_EQ(&registry.store(), registry.stored.get());
    ASSERT_TRUE(registry.store().CreateKey(kLM, "SOFTWARE\\TARN"));
  }
  EXPECT_TRUE(std::filesystem::exists(root / "var/lib/quarrin/registry.db"));
  testing::ScopedEnv env_facts("QUARRIN_LIVE_FACTS", "1");
  OpenedRegistry registry = OpenDefaultRegistry();
  ASSERT_NE(registry.view, nullptr);
  EXPECT_EQ(&registry.store(), registry.view.get());
  EXPECT_TRUE(registry.store().KeyExists(kLM, "software\\tarn"));
}

TEST(OpenDefaultRegistryTest, AStateFolderThatCannotBeMadeIsNamed) {
  testing::TempDir root;
  testing::WriteFileText(root / "var", "a file where a folder should be");
  testing::ScopedEnv env_root("QUARRIN_ROOT", root.path());
  try {
    OpenDefaultRegistry();
    ADD_FAILURE() << "opened";
  } catch (const StoreError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr(root / "var/lib/quarrin"));
  }
  EXPECT_EQ(testing::ReadFileText(root / "var"), "a file where a folder should be");
}

}  // namespace
}  // namespace quarrin
