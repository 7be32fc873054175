#include "core/attributes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/registry.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/forwarding_store.h"
#include "tests/test_support.h"
#include "tests/value_order.h"

namespace quarrin {
namespace {

constexpr char kKey[] = "System\\CurrentControlSet\\Services\\TARNQuarrinSrvc";
constexpr char kDefaultUrl[] = "http://downloads.quarrin.invalid/Downloads";

// Forwards to a real store but fails every write of one value name, as a
// store that has run out of room would.
class FailingWrites final : public testing::ForwardingStore {
 public:
  FailingWrites(RegistryStore& base, std::string failing)
      : ForwardingStore(base), failing_(std::move(failing)) {}
  bool SetValue(RootKey r, std::string_view p, std::string_view n, const RegValue& v) override {
    if (n == failing_) throw StoreError("registry.db: database or disk is full");
    return base_.SetValue(r, p, n, v);
  }

 private:
  std::string failing_;
};

class AttributesTest : public ::testing::Test {
 protected:
  // The service key as installation leaves it.
  void Install() {
    ASSERT_TRUE(store_->CreateKey(RootKey::kLocalMachine, kKey));
    ASSERT_TRUE(store_->SetValue(RootKey::kLocalMachine, kKey, "ImagePath",
                                 EncodeString("/opt/TARN/QuarrinSrvc")));
  }
  void Set(const char* name, const RegValue& value) {
    ASSERT_TRUE(store_->SetValue(RootKey::kLocalMachine, kKey, name, value));
  }
  std::string Text(const char* name) {
    auto value = store_->GetValue(RootKey::kLocalMachine, kKey, name);
    return value ? value->data.substr(0, value->data.find('\0')) : "<missing>";
  }
  std::vector<std::string> Names() { return store_->ValueNames(RootKey::kLocalMachine, kKey); }
  ::testing::Matcher<const std::vector<std::string>&> InOrder(
      const std::vector<std::string>& names) {
    return testing::NamesInCreationOrder(*store_, names);
  }
  tRegAttributes Read() {
    tRegAttributes a;
    ReadAttributes(*store_, kDefaultUrl, &a);
    return a;
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = OpenScratchRegistryStore(dir_.path());
};

TEST_F(AttributesTest, WithoutTheServiceKeyNothingIsReadOrWritten) {
  tRegAttributes a{"kept", "", "", "", ""};
  ReadAttributes(*store_, kDefaultUrl, &a);
  EXPECT_EQ(a, (tRegAttributes{"kept", "", "", "", ""}));
  WriteAttributes(*store_, "1.0.0.0", {"S1", "01/02/2020", "", "", ""});
  EXPECT_FALSE(store_->KeyExists(RootKey::kLocalMachine, kKey));
}

TEST_F(AttributesTest, FreshInstallReadsEmptyTextsAndTheDefaultDownloadUrl) {
  Install();
  WriteAttributes(*store_, "10.11.31.0", {});
  EXPECT_THAT(Names(), InOrder({"ImagePath", "Description"}));
  EXPECT_EQ(Text("Description"), "Version: 10.11.31.0");
  EXPECT_EQ(Read(), (tRegAttributes{"", "", "", "", kDefaultUrl}));

  Set("DownloadURL", EncodeString(""));
  EXPECT_EQ(Read().DownloadURL, kDefaultUrl);
  Set("DownloadURL", EncodeString("http://127.0.0.1:8080/Downloads"));
  EXPECT_EQ(Read().DownloadURL, "http://127.0.0.1:8080/Downloads");
}

TEST_F(AttributesTest, WriteStoresNonEmptyFieldsInOrderAndTheCommentReadsBack) {
  Install();
  WriteAttributes(*store_, "1.0.0.0",
                  {"SN-42", "01/02/2020", "03/04/2019", "Desk 7", "http://ignored"});
  EXPECT_THAT(Names(), InOrder({"ImagePath", "Description", "SerialNo", "InstallDate",
                                "AquisitionDate", "Comments"}));
  EXPECT_EQ(Text("Comments"), "Desk 7");
  EXPECT_EQ(Text("DownloadURL"), "<missing>");
  // The comment comes back although it is written as "Comments".
  EXPECT_EQ(Read(), (tRegAttributes{"SN-42", "01/02/2020", "03/04/2019", "Desk 7", kDefaultUrl}));

  // Empty fields leave the stored values as they were; the description follows
  // the version of the last writer.
  WriteAttributes(*store_, "1.0.0.1", {"", "", "", "Desk 8", ""});
  EXPECT_EQ(Read(), (tRegAttributes{"SN-42", "01/02/2020", "03/04/2019", "Desk 8", kDefaultUrl}));
  EXPECT_EQ(Text("Description"), "Version: 1.0.0.1");

  // A comment placed in "Comment" by other means takes precedence.
  Set("Comment", EncodeString("From the desk"));
  EXPECT_EQ(Read().Comment, "From the desk");
  Set("Comment", EncodeString(""));
  EXPECT_EQ(Read().Comment, "Desk 8");
}

TEST_F(AttributesTest, ValueOfAnotherTypeFailsTheReadButNeverTheWrite) {
  Install();
  Set("SerialNo", EncodeDword(42));
  tRegAttributes a;
  try {
    ReadAttributes(*store_, kDefaultUrl, &a);
    FAIL() << "accepted";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'SerialNo'");
  }
  EXPECT_NO_THROW(WriteAttributes(*store_, "1.0.0.0", {"SN-1", "", "", "", ""}));
  EXPECT_EQ(Text("SerialNo"), "SN-1");
}

TEST_F(AttributesTest, FailedWriteStopsQuietlyAndKeepsWhatWasWritten) {
  Install();
  FailingWrites failing(*store_, "InstallDate");
  EXPECT_NO_THROW(WriteAttributes(failing, "1.0.0.0", {"SN-9", "01/01/2021", "02/02/2020", "c", ""}));
  EXPECT_THAT(Names(), InOrder({"ImagePath", "Description", "SerialNo"}));
  EXPECT_EQ(Text("SerialNo"), "SN-9");
}

}  // namespace
}  // namespace quarrin
