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
#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
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

// "message | nested reason" of the RegistryError that f throws.
std::string ErrorAndReason(const std::function<void()>& f) {
  try {
    f();
  } catch (const RegistryError& e) {
    try {
      std::rethrow_if_nested(e);
    } catch (const std::exception& reason) {
      return std::string(e.what()) + " | " + reason.what();
    }
    return e.what();
  }
  return "no error";
}

TEST_F(RegistryTest, NamesBeyondTheLimitsAreRefusedWithTheReason) {
  std::string deep = "L";
  for (int i = 1; i < 512; ++i) deep += "\\L";
  std::string e_acute_255;
  for (int i = 0; i < 255; ++i) e_acute_255 += "\xC3\xA9";  // 255 characters, 510 bytes
  struct Case {
    const char* what;
    bool key;          // a key path, else a value name
    std::string name;
    std::string reason;  // empty: accepted
  } cases[] = {
      {"key name of 255", true, std::string(255, 'k'), ""},
      {"key name of 255 two-byte characters", true, e_acute_255, ""},
      {"key name of 256", true, std::string(256, 'k'), "is longer than 255 characters"},
      {"zero byte in a key name", true, "A\\b\0c"s, "key name 'b' holds a zero byte"},
      {"512 levels", true, deep, ""},
      {"513 levels", true, deep + "\\L", "is more than 512 levels deep"},
      {"value name of 16383", false, std::string(16383, 'v'), ""},
      {"value name of 16384", false, std::string(16384, 'v'), "is longer than 16383 characters"},
      {"zero byte in a value name", false, "Na\0me"s, "value name 'Na' holds a zero byte"},
  };
  ASSERT_TRUE(reg_.OpenKey("\\K", true));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error = c.key ? ErrorAndReason([&] { reg_.CreateKey("\\" + c.name); })
                              : ErrorAndReason([&] { reg_.WriteString(c.name, "x"); });
    if (c.reason.empty()) {
      EXPECT_EQ(error, "no error");
      EXPECT_TRUE(c.key ? store_->KeyExists(kLM, c.name)
                        : store_->GetValue(kLM, "K", c.name).has_value());
      continue;
    }
    EXPECT_THAT(error, HasSubstr(c.reason));
    EXPECT_THAT(error, HasSubstr(c.key ? "Failed to create key" : "Failed to set data for"));
    if (c.key) {
      EXPECT_FALSE(reg_.OpenKey("\\" + c.name, true));
      EXPECT_EQ(reg_.CurrentPath(), "\\K");
      EXPECT_FALSE(store_->CreateKey(kLM, c.name));  // the store refuses it too
    } else {
      EXPECT_FALSE(store_->SetValue(kLM, "K", c.name, EncodeString("x")));
    }
  }
}

TEST_F(RegistryTest, TextIsStoredAsUtf8AndOtherBytesAsWindows1252) {
  struct {
    const char* written;
    const char* stored;
  } cases[] = {
      {"abc", "abc"},
      {"caf\xE9", "caf\xC3\xA9"},                          // café
      {"caf\xC3\xA9", "caf\xC3\xA9"},                      // already UTF-8
      {"\x80 \x9F \xFF", "\xE2\x82\xAC \xC5\xB8 \xC3\xBF"},  // € Ÿ ÿ
      {"\x81\x8D", "\xC2\x81\xC2\x8D"},                    // unassigned: the C1 controls
      {"ok \xC3", "ok \xC3\x83"},                          // a cut-off sequence: Ã
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},    // a surrogate is not UTF-8
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},            // beyond the 16-bit plane
  };
  ASSERT_TRUE(reg_.OpenKey("\\K", true));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    reg_.WriteString("Text", c.written);
    EXPECT_EQ(reg_.ReadString("Text"), c.stored);
    reg_.WriteExpandString("Path", c.written);
    EXPECT_EQ(reg_.ReadString("Path"), c.stored);
  }
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
