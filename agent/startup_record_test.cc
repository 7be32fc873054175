#include "agent/startup_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/registry.h"
#include "platform/time/fake_clock.h"
#include "platform/system/memory.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

constexpr char kKey[] = "SOFTWARE\\TARN\\QuarrinSrvc";

class StartupRecordTest : public ::testing::Test {
 protected:
  std::optional<RegValue> Get(const char* name) {
    return store_->GetValue(RootKey::kLocalMachine, kKey, name);
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = OpenSqliteRegistryStore(dir_ / "registry.db");
  FakeClock clock_{EncodeDateTime({2006, 1, 5, 13, 45, 7, 123}), std::chrono::seconds(161)};
  RegionalSettings settings_;
};

TEST_F(StartupRecordTest, FirstStartCreatesTheKeyWithTheFourValues) {
  WriteStartupRecord(*store_, "QuarrinSrvc", clock_, settings_);
  EXPECT_EQ(store_->ValueNames(RootKey::kLocalMachine, kKey),
            (std::vector<std::string>{"Version", "Started", "Memory", "Windows up time at Startup"}));
  // The test program carries no version resource.
  EXPECT_EQ(Get("Version"), EncodeString(""));
  EXPECT_EQ(Get("Started"), EncodeString("05/01/06 13:45:07.123"));
  EXPECT_EQ(Get("Memory"), EncodeString(MemoryText()));
  EXPECT_EQ(Get("Windows up time at Startup"), EncodeString("0w0d0h2m41s"));
}

TEST_F(StartupRecordTest, LaterStartsOverwriteTheRecordAndKeepTheSettings) {
  ASSERT_TRUE(store_->CreateKey(RootKey::kLocalMachine, kKey));
  ASSERT_TRUE(store_->SetValue(RootKey::kLocalMachine, kKey, "Debug", EncodeString("on")));
  WriteStartupRecord(*store_, "QuarrinSrvc", clock_, settings_);
  clock_.Advance(std::chrono::hours(24 * 8 + 1));
  WriteStartupRecord(*store_, "QuarrinSrvc", clock_, settings_);
  EXPECT_EQ(store_->ValueNames(RootKey::kLocalMachine, kKey),
            (std::vector<std::string>{"Debug", "Version", "Started", "Memory",
                                      "Windows up time at Startup"}));
  EXPECT_EQ(Get("Debug"), EncodeString("on"));
  EXPECT_EQ(Get("Started"), EncodeString("13/01/06 14:45:07.123"));
  EXPECT_EQ(Get("Windows up time at Startup"), EncodeString("1w1d1h2m41s"));
}

TEST_F(StartupRecordTest, LocalSettingsReadWithTheirDefault) {
  struct {
    const char* name;
    std::optional<RegValue> stored;  // nullopt: no such value
    const char* default_value;
    const char* result;
    std::optional<RegValue> after;
  } cases[] = {
      {"Debug", std::nullopt, "Off", "Off", EncodeString("Off")},
      {"Debug", EncodeString(""), "Off", "Off", EncodeString("Off")},
      {"Debug", EncodeString("on"), "Off", "on", EncodeString("on")},
      {"Debug", std::nullopt, "", "", std::nullopt},
      {"Debug", EncodeString(""), "", "", EncodeString("")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.result) + " with default '" + c.default_value + "'");
    store_->DeleteKey(RootKey::kLocalMachine, kKey);
    ASSERT_TRUE(store_->CreateKey(RootKey::kLocalMachine, kKey));
    if (c.stored) store_->SetValue(RootKey::kLocalMachine, kKey, c.name, *c.stored);
    EXPECT_EQ(ReadLocalSetting(*store_, "QuarrinSrvc", c.name, c.default_value), c.result);
    EXPECT_EQ(Get(c.name), c.after);
  }
}

TEST_F(StartupRecordTest, LocalSettingWithoutTheKeyIsTheDefaultAndCreatesNothing) {
  EXPECT_EQ(ReadLocalSetting(*store_, "QuarrinSrvc", "Debug", "Off"), "Off");
  EXPECT_FALSE(store_->KeyExists(RootKey::kLocalMachine, "SOFTWARE\\TARN"));
}

TEST_F(StartupRecordTest, LocalSettingOfAnotherTypeIsAnError) {
  ASSERT_TRUE(store_->CreateKey(RootKey::kLocalMachine, kKey));
  store_->SetValue(RootKey::kLocalMachine, kKey, "Debug", EncodeDword(1));
  try {
    ReadLocalSetting(*store_, "QuarrinSrvc", "Debug", "Off");
    FAIL() << "accepted";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Debug'");
  }
}

}  // namespace
}  // namespace quarrin
