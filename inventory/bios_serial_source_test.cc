#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <utility>
#include <string>

#include "inventory/bios_serial.h"

namespace quarrin {
namespace {

// Gives a fixed text, or fails when it has none.
class FixedSerial final : public BiosSerialSource {
 public:
  explicit FixedSerial(std::optional<std::string> text) : text_(std::move(text)) {}
  void Read(std::string* text) const override {
    if (!text_) throw BiosSerialError("BIOS serial number: WMI query: refused");
    *text = *text_;
  }

 private:
  std::optional<std::string> text_;
};

TEST(BiosSerialSourceTest, TheSerialIsTrimmedOfBlanksAndControls) {
  struct Case {
    const char* reported;
    const char* serial;
  } cases[] = {
      {"CZC1234XYZ", "CZC1234XYZ"},          {"  PF2ABCD \t \r\n", "PF2ABCD"},
      {"\x01Serial With Blanks\x1f", "Serial With Blanks"}, {"~A~B", "~A~B"},
      {" \t\n", ""},                         {"", ""},
  };
  for (const Case& c : cases) {
    std::string serial = "stale";
    GetBIOSSerialNumber(".", &serial, FixedSerial(c.reported));
    EXPECT_EQ(serial, c.serial) << c.reported;
    GetBIOSSerialNumber("", &serial, FixedSerial(c.reported));
    EXPECT_EQ(serial, c.serial) << c.reported;
  }
}

TEST(BiosSerialSourceTest, AFailureLeavesTheSerialEmpty) {
  std::string serial = "stale";
  EXPECT_THROW(GetBIOSSerialNumber(".", &serial, FixedSerial(std::nullopt)), BiosSerialError);
  EXPECT_EQ(serial, "");
  serial = "stale";
  EXPECT_THROW(GetBIOSSerialNumber("OTHER-PC", &serial, FixedSerial("X")),
               std::invalid_argument);
  EXPECT_EQ(serial, "");
}

}  // namespace
}  // namespace quarrin
