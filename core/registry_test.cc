#include "core/registry.h"

#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry_store.h"
#include "platform/scratch_registry.h"
#include "tests/forwarding_store.h"
#include "tests/test_support.h"
#include "tests/value_order.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::string_literals;

constexpr RootKey kLM = RootKey::kLocalMachine;

RegValue Raw(uint32_t type, std::string bytes) {
  return {static_cast<ValueType>(type), std::move(bytes)};
}

// The message of the RegistryError that f throws, or "no error".
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RegistryError& e) {
    return e.what();
  }
  return "no error";
}

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : store_(OpenScratchRegistryStore(dir_.path())), reg_(*store_) {
    reg_.SetRootKey(kLM);
  }

  // Stores a value as raw bytes, the way another program might have.
  void Put(std::string_view path, std::string_view name, const RegValue& value) {
    store_->CreateKey(kLM, path);
    ASSERT_TRUE(store_->SetValue(kLM, path, name, value));
  }

  // Opens a fresh key "K" holding "Val" as given (or no value at all).
  void OpenWithVal(const std::optional<RegValue>& stored) {
    store_->DeleteKey(kLM, "K");
    store_->CreateKey(kLM, "K");
    if (stored) Put("K", "Val", *stored);
    ASSERT_TRUE(reg_.OpenKey("\\K", false));
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_;
  Registry reg_;
};

constexpr uint32_t kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4, kMultiSz = 7;

// Each row stores "Val" (or nothing) and reads it as "vAL": the messages must
// name the value exactly as the caller passed it.
TEST_F(RegistryTest, ReadTextDecodesOrRaisesByType) {
  struct Case {
    std::optional<RegValue> stored;
    std::string expected;
  } cases[] = {
      {std::nullopt, ""},
      {Raw(kSz, "abc\0"s), "abc"},
      {Raw(kSz, ""), ""},             // no bytes
      {Raw(kSz, "\0"s), ""},          // the empty text
      {Raw(kSz, "ab\0cd\0"s), "ab"},  // ends at the first zero byte
      {Raw(kSz, "no zero"), "no zero"},
      {Raw(kExpandSz, "%SystemRoot%\\x\0"s), "%SystemRoot%\\x"},  // not expanded
      {Raw(kBinary, ""), ""},  // no bytes: empty whatever the type
      {Raw(kDword, "\1\0\0\0"s), "error: Invalid data type for 'vAL'"},
      {Raw(kBinary, "abc\0"s), "error: Invalid data type for 'vAL'"},
      {Raw(kMultiSz, "a\0\0"s), "error: Invalid data type for 'vAL'"},
  };
  int row = 0;
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(OpenWithVal(c.stored));
    std::string got;
    try {
      got = reg_.ReadString("vAL");
    } catch (const RegistryError& e) {
      got = "error: "s + e.what();
    }
    EXPECT_EQ(got, c.expected) << "row " << row;
    ++row;
  }
}

TEST_F(RegistryTest, ReadNumberAndFloatDecodeOrRaiseBySizeThenType) {
  const std::string get = "Failed to get data for 'vAL'";
  const std::string invalid = "Invalid data type for 'vAL'";
  struct Case {
    std::optional<RegValue> stored;
    std::string number;  // ReadInteger's result or message
    std::string real;    // ReadFloat's result or message
  } cases[] = {
      {std::nullopt, get, get},
      {Raw(kDword, "\x2a\0\0\0"s), "42", invalid},
      {Raw(kDword, "\xfe\xff\xff\xff"s), "-2", invalid},  // signed when read back
      {Raw(kDword, "\1\0"s), invalid, invalid},           // short
      {Raw(kDword, std::string(5, '\0')), get, invalid},
      {Raw(kDword, std::string(9, '\0')), get, get},
      {Raw(kSz, "12\0"s), invalid, invalid},
      {Raw(kSz, "12345\0"s), get, invalid},  // too long comes first
      {Raw(kBinary, "\0\0\0\0\0\0\xf8\x3f"s), get, "1.5"},
      {Raw(kBinary, "\0\0\xc0\x3f"s), invalid, invalid},  // a float of 4 bytes
      {Raw(kBinary, std::string(12, '\0')), get, get},    // and one of 12
      {Raw(kBinary, ""), invalid, invalid},
  };
  int row = 0;
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(OpenWithVal(c.stored));
    std::string number, real;
    try {
      number = std::to_string(reg_.ReadInteger("vAL"));
    } catch (const RegistryError& e) {
      number = e.what();
    }
    try {
      std::ostringstream s;
      s << reg_.ReadFloat("vAL");
      real = s.str();
    } catch (const RegistryError& e) {
      real = e.what();
    }
    EXPECT_EQ(number, c.number) << "row " << row;
    EXPECT_EQ(real, c.real) << "row " << row;
    ++row;
  }
}

TEST_F(RegistryTest, WritesStoreTheDocumentedBytesAndReadBack) {
  ASSERT_TRUE(reg_.OpenKey("\\K", true));
  reg_.WriteString("Text", "abc");
  reg_.WriteString("Empty", "");
  reg_.WriteExpandString("Path", "%TEMP%");
  reg_.WriteInteger("Number", -2);
  reg_.WriteFloat("Float", 1.5);
  reg_.WriteBinary("Blob", "\0\1"s);
  EXPECT_EQ(store_->GetValue(kLM, "K", "Text"), Raw(kSz, "abc\0"s));
  EXPECT_EQ(store_->GetValue(kLM, "K", "Empty"), Raw(kSz, "\0"s));
  EXPECT_EQ(store_->GetValue(kLM, "K", "Path"), Raw(kExpandSz, "%TEMP%\0"s));
  EXPECT_EQ(store_->GetValue(kLM, "K", "Number"), Raw(kDword, "\xfe\xff\xff\xff"s));
  EXPECT_EQ(store_->GetValue(kLM, "K", "Float"), Raw(kBinary, "\0\0\0\0\0\0\xf8\x3f"s));
  EXPECT_EQ(store_->GetValue(kLM, "K", "Blob"), Raw(kBinary, "\0\1"s));

  EXPECT_EQ(reg_.ReadString("Empty"), "");
  EXPECT_EQ(reg_.ReadString("Path"), "%TEMP%");
  EXPECT_EQ(reg_.ReadInteger("number"), -2);
  EXPECT_EQ(reg_.ReadFloat("FLOAT"), 1.5);
  EXPECT_THAT(
      reg_.GetValueNames(),
      testing::NamesInCreationOrder(*store_, {"Text", "Empty", "Path", "Number", "Float", "Blob"}));
}

TEST_F(RegistryTest, WritesFailWithTheNameWhenTheyCannotBeKept) {
  const std::string set = "Failed to set data for 'Na me'";
  EXPECT_EQ(ErrorOf([&] { reg_.WriteString("Na me", "x"); }), set);  // no key open

  Put("K", "v", Raw(kSz, "\0"s));
  ASSERT_TRUE(reg_.OpenKeyReadOnly("\\K"));
  EXPECT_EQ(ErrorOf([&] { reg_.WriteInteger("Na me", 1); }), set);  // no write access
  EXPECT_FALSE(reg_.DeleteValue("v"));
  EXPECT_EQ(reg_.ReadString("v"), "");  // reading is fine

  ASSERT_TRUE(reg_.OpenKey("\\K", false));
  ASSERT_TRUE(store_->DeleteKey(kLM, "K"));  // gone since it was opened
  EXPECT_EQ(ErrorOf([&] { reg_.WriteFloat("Na me", 1); }), set);
}

// A store whose writes fail as a store locked by another process does.
class LockedStore final : public testing::ForwardingStore {
 public:
  using ForwardingStore::ForwardingStore;
  bool CreateKey(RootKey, std::string_view) override { throw Locked(); }
  bool SetValue(RootKey, std::string_view, std::string_view, const RegValue&) override {
    throw Locked();
  }

 private:
  static StoreError Locked() { return StoreError("registry.db: locked by another process"); }
};

TEST_F(RegistryTest, AStoreFailureKeepsTheMessageAndNestsTheDetail) {
  store_->CreateKey(kLM, "K");
  LockedStore locked(*store_);
  Registry reg(locked);
  ASSERT_TRUE(reg.OpenKey("\\K", false));

  try {
    reg.WriteString("Comment", "x");
    ADD_FAILURE() << "no error";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Comment'");
    try {
      std::rethrow_if_nested(e);
      ADD_FAILURE() << "nothing nested";
    } catch (const StoreError& detail) {
      EXPECT_THAT(detail.what(), HasSubstr("registry.db: locked by another process"));
    }
  }
  EXPECT_EQ(ErrorOf([&] { reg.CreateKey("New"); }), "Failed to create key New");
}

TEST_F(RegistryTest, OpenKeyResolvesPathsAndKeepsThePreviousKeyOnFailure) {
  Put("SOFTWARE\\TARN\\QuarrinSrvc", "v", Raw(kSz, "\0"s));
  EXPECT_FALSE(reg_.HasOpenKey());
  EXPECT_EQ(reg_.CurrentPath(), "");

  ASSERT_TRUE(reg_.OpenKey("SOFTWARE", false));  // relative with none open: from the root
  EXPECT_EQ(reg_.CurrentPath(), "\\SOFTWARE");
  ASSERT_TRUE(reg_.OpenKey("TARN", false));  // relative to the open key
  EXPECT_EQ(reg_.CurrentPath(), "\\SOFTWARE\\TARN");
  EXPECT_FALSE(reg_.OpenKey("Missing", false));
  EXPECT_FALSE(reg_.OpenKey("\\Missing", false));
  EXPECT_EQ(reg_.CurrentPath(), "\\SOFTWARE\\TARN");  // still open
  EXPECT_THAT(reg_.GetKeyNames(), ElementsAre("QuarrinSrvc"));
  ASSERT_TRUE(reg_.OpenKey("\\software\\tarn\\quarrinsrvc", false));
  EXPECT_THAT(reg_.GetValueNames(), ElementsAre("v"));

  ASSERT_TRUE(reg_.OpenKey("Disk\\Day", true));  // created below the open key
  EXPECT_EQ(reg_.CurrentPath(), "\\software\\tarn\\quarrinsrvc\\Disk\\Day");
  EXPECT_TRUE(store_->KeyExists(kLM, "SOFTWARE\\TARN\\QuarrinSrvc\\Disk\\Day"));
  EXPECT_FALSE(reg_.OpenKey("A\\\\B", true));  // an empty name cannot be created
  EXPECT_EQ(reg_.CurrentPath(), "\\software\\tarn\\quarrinsrvc\\Disk\\Day");

  reg_.SetRootKey(RootKey::kClassesRoot);  // closes
  EXPECT_FALSE(reg_.HasOpenKey());
  EXPECT_THAT(reg_.GetValueNames(), IsEmpty());
  EXPECT_FALSE(reg_.OpenKey("\\SOFTWARE", false));  // another root
}

TEST_F(RegistryTest, CreateKeyMakesParentsLeavesTheOpenKeyAndNamesAFailure) {
  Put("Base", "v", Raw(kSz, "\0"s));
  ASSERT_TRUE(reg_.OpenKey("\\Base", false));
  EXPECT_TRUE(reg_.CreateKey("A\\B\\C"));  // relative to the open key
  EXPECT_TRUE(reg_.CreateKey("\\Top\\Sub"));
  EXPECT_EQ(reg_.CurrentPath(), "\\Base");
  EXPECT_TRUE(store_->KeyExists(kLM, "Base\\A\\B\\C"));
  EXPECT_TRUE(store_->KeyExists(kLM, "Top\\Sub"));
  EXPECT_TRUE(reg_.KeyExists("A\\B"));
  for (const char* bad : {"A\\\\B", "\\X\\", "Trailing\\"}) {
    EXPECT_EQ(ErrorOf([&] { reg_.CreateKey(bad); }), "Failed to create key "s + bad);
  }
  EXPECT_THAT(store_->SubkeyNames(kLM, ""), ElementsAre("Base", "Top"));  // nothing half made
}

TEST_F(RegistryTest, DeleteKeyRemovesTheSubtreeAndDeleteValueOneValue) {
  Put("Svc\\Disk\\Day", "08:00", Raw(kBinary, std::string(8, '\0')));
  Put("Svc\\Disk\\Week", "Mon", Raw(kBinary, std::string(8, '\0')));
  Put("Svc", "Comment", Raw(kSz, "x\0"s));
  Put("Svc", "Other", Raw(kSz, "y\0"s));

  ASSERT_TRUE(reg_.OpenKey("\\Svc", false));
  EXPECT_TRUE(reg_.DeleteKey("disk"));  // relative, any case
  EXPECT_FALSE(store_->KeyExists(kLM, "Svc\\Disk\\Day"));
  EXPECT_FALSE(store_->KeyExists(kLM, "Svc\\Disk"));
  EXPECT_FALSE(reg_.DeleteKey("Disk"));

  EXPECT_TRUE(reg_.DeleteValue("COMMENT"));
  EXPECT_FALSE(reg_.DeleteValue("Comment"));
  EXPECT_THAT(reg_.GetValueNames(), ElementsAre("Other"));
  EXPECT_FALSE(reg_.DeleteKey("\\"));  // the root stays
}

TEST_F(RegistryTest, ValueNamesCompareWithoutCaseKeepTheirCaseAndOrder) {
  ASSERT_TRUE(reg_.OpenKey("\\Day", true));
  for (const char* name : {"10:05", "10:00", "Zulu", "alpha"}) reg_.WriteFloat(name, 1);
  reg_.WriteFloat("ZULU", 2);  // the same value
  EXPECT_THAT(reg_.GetValueNames(),
              testing::NamesInCreationOrder(*store_, {"10:05", "10:00", "Zulu", "alpha"}));
  EXPECT_EQ(reg_.ReadFloat("zulu"), 2);
  EXPECT_TRUE(reg_.ValueExists("ALPHA"));
  EXPECT_FALSE(reg_.ValueExists("beta"));

  reg_.WriteString("", "default");  // the unnamed value
  EXPECT_EQ(reg_.ReadString(""), "default");
}

TEST(RegistryEncodingTest, FloatsRoundTripThroughTheirEightBytes) {
  for (double x : {0.0, -0.0, 1.5, -123.456, 1e300, 5e-324}) {
    RegValue v = EncodeFloat(x);
    double back = 0;
    ASSERT_TRUE(DecodeFloat(v, &back));
    EXPECT_EQ(std::memcmp(&back, &x, sizeof x), 0) << x;
  }
  double out = 0;
  EXPECT_FALSE(DecodeFloat(Raw(kBinary, "1234"), &out));
  EXPECT_FALSE(DecodeFloat(Raw(kDword, "12345678"), &out));
}

}  // namespace
}  // namespace quarrin
