// The registry store on Windows' registry, in a scratch key of its own.
#include "platform/registry/registry_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/registry/scratch_registry_double.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::string_literals;

constexpr RootKey kLM = RootKey::kLocalMachine;

class WindowsRegistryStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<RegistryStore> store_ = OpenScratchRegistryStore("");
};

TEST_F(WindowsRegistryStoreTest, KeysAreCreatedFoundAndDeletedWithoutRegardToCase) {
  EXPECT_TRUE(store_->KeyExists(kLM, ""));
  EXPECT_FALSE(store_->KeyExists(kLM, "SOFTWARE\\TARN"));
  ASSERT_TRUE(store_->CreateKey(kLM, "SOFTWARE\\TARN\\QuarrinSrvc\\Disk"));
  EXPECT_TRUE(store_->KeyExists(kLM, "software\\tarn"));
  EXPECT_THAT(store_->SubkeyNames(kLM, "SOFTWARE\\TARN"), ElementsAre("QuarrinSrvc"));
  EXPECT_TRUE(store_->CreateKey(kLM, "software\\TARN"));  // there already: keeps its case
  EXPECT_THAT(store_->SubkeyNames(kLM, ""), ElementsAre("SOFTWARE"));

  EXPECT_TRUE(store_->DeleteKey(kLM, "SOFTWARE\\tarn"));  // with everything below it
  EXPECT_FALSE(store_->KeyExists(kLM, "SOFTWARE\\TARN\\QuarrinSrvc"));
  EXPECT_FALSE(store_->DeleteKey(kLM, "SOFTWARE\\TARN"));
  EXPECT_FALSE(store_->DeleteKey(kLM, ""));  // a root stays
  EXPECT_TRUE(store_->KeyExists(kLM, ""));
}

TEST_F(WindowsRegistryStoreTest, InvalidPathsAreRefusedOrMissing) {
  for (const char* path : {"\\A", "A\\", "A\\\\B", "\xff\xfe"}) {
    EXPECT_FALSE(store_->CreateKey(kLM, path)) << path;
    EXPECT_FALSE(store_->KeyExists(kLM, path)) << path;
    EXPECT_FALSE(store_->SetValue(kLM, path, "v", {ValueType::kDword, "\1\0\0\0"s})) << path;
    EXPECT_EQ(store_->GetValue(kLM, path, "v"), std::nullopt) << path;
  }
}

// Text is UTF-8 here and UTF-16 in the registry; other data passes as it is,
// whatever its type, so a value of the wrong type reaches the accessor.
TEST_F(WindowsRegistryStoreTest, ValuesKeepTypeAndBytes) {
  ASSERT_TRUE(store_->CreateKey(kLM, "K\xc3\xa9"));
  const struct {
    const char* name;
    RegValue value;
  } cases[] = {
      {"Text", {ValueType::kString, "Caf\xc3\xa9 \xe2\x82\xac\0"s}},
      {"Expand", {ValueType::kExpandString, "%SystemRoot%\\x\0"s}},
      {"Empty", {ValueType::kString, ""s}},
      {"Dword", {ValueType::kDword, "\x78\x56\x34\x12"s}},
      {"Binary", {ValueType::kBinary, "\0\xff\x80 "s}},
      {"Multi", {static_cast<ValueType>(7), "a\0\0b\0\0\0\0"s}},  // raw UTF-16 bytes
      {"Qword", {static_cast<ValueType>(11), "\1\2\3\4\5\6\7\x08"s}},
      {"N\xc3\xa4me", {ValueType::kDword, "\0\0\0\0"s}},
      {"", {ValueType::kString, "default\0"s}},
  };
  for (const auto& c : cases) ASSERT_TRUE(store_->SetValue(kLM, "K\xc3\xa9", c.name, c.value));
  for (const auto& c : cases) {
    EXPECT_EQ(store_->GetValue(kLM, "k\xc3\xa9", c.name), c.value) << c.name;
  }
  EXPECT_EQ(store_->GetValue(kLM, "K\xc3\xa9", "TEXT"), cases[0].value);  // any case
  const std::vector<NamedValue> all = store_->Values(kLM, "K\xc3\xa9");
  ASSERT_EQ(all.size(), std::size(cases));
  for (const NamedValue& v : all) {
    EXPECT_EQ(v.value, store_->GetValue(kLM, "K\xc3\xa9", v.name)) << v.name;
  }
  EXPECT_EQ(store_->ValueNames(kLM, "K\xc3\xa9").size(), std::size(cases));
}

TEST_F(WindowsRegistryStoreTest, ValuesOfMissingKeysAndNames) {
  EXPECT_FALSE(store_->SetValue(kLM, "Missing", "v", {ValueType::kDword, "\0\0\0\0"s}));
  EXPECT_EQ(store_->GetValue(kLM, "Missing", "v"), std::nullopt);
  EXPECT_THAT(store_->Values(kLM, "Missing"), IsEmpty());
  EXPECT_THAT(store_->ValueNames(kLM, "Missing"), IsEmpty());
  EXPECT_THAT(store_->SubkeyNames(kLM, "Missing"), IsEmpty());
  ASSERT_TRUE(store_->CreateKey(kLM, "K"));
  EXPECT_EQ(store_->GetValue(kLM, "K", "v"), std::nullopt);
  EXPECT_FALSE(store_->DeleteValue(kLM, "K", "v"));
  ASSERT_TRUE(store_->SetValue(kLM, "K", "v", {ValueType::kString, "x\0"s}));
  ASSERT_TRUE(store_->SetValue(kLM, "K", "w", {ValueType::kString, "y\0"s}));
  EXPECT_TRUE(store_->DeleteValue(kLM, "K", "V"));
  EXPECT_THAT(store_->ValueNames(kLM, "K"), ElementsAre("w"));
}

TEST_F(WindowsRegistryStoreTest, RootsAreKeptApart) {
  ASSERT_TRUE(store_->CreateKey(RootKey::kUsers, ".DEFAULT\\Control Panel\\International"));
  ASSERT_TRUE(store_->CreateKey(RootKey::kClassesRoot, ".txt"));
  EXPECT_FALSE(store_->KeyExists(kLM, ".DEFAULT"));
  EXPECT_THAT(store_->SubkeyNames(RootKey::kUsers, ""), ElementsAre(".DEFAULT"));
  EXPECT_THAT(store_->SubkeyNames(RootKey::kClassesRoot, ""), ElementsAre(".txt"));
}

TEST_F(WindowsRegistryStoreTest, ScratchStoresStartEmptyAndAreKeptApart) {
  ASSERT_TRUE(store_->CreateKey(kLM, "K"));
  auto other = OpenScratchRegistryStore("");
  EXPECT_FALSE(other->KeyExists(kLM, "K"));
  EXPECT_THAT(other->SubkeyNames(kLM, ""), IsEmpty());
  ASSERT_TRUE(other->CreateKey(kLM, "L"));
  other.reset();
  EXPECT_FALSE(store_->KeyExists(kLM, "L"));
  EXPECT_TRUE(store_->KeyExists(kLM, "K"));
}

}  // namespace
}  // namespace quarrin
