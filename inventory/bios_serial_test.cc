#include "inventory/bios_serial.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(BiosSerialTest, TheSerialIsTrimmedAndMayBeEmpty) {
  testing::TempDir dir;
  const std::string path = dir / "product_serial";
  struct Case {
    std::optional<std::string> file;  // nullopt: no such file
    const char* serial;
  } cases[] = {
      {"CZC1234XYZ\n", "CZC1234XYZ"},
      {"  PF2ABCD \t \n", "PF2ABCD"},
      {"Serial With Blanks\n", "Serial With Blanks"},
      {"\n", ""},
      {"", ""},
      {std::nullopt, ""},  // a machine without a DMI table
  };
  for (const Case& c : cases) {
    std::remove(path.c_str());
    if (c.file) testing::WriteFileText(path, *c.file);
    std::string serial = "stale";
    GetBIOSSerialNumber(".", &serial, path);
    EXPECT_EQ(serial, c.serial) << (c.file ? *c.file : "<none>");
    GetBIOSSerialNumber("", &serial, path);
    EXPECT_EQ(serial, c.serial);
  }
}

TEST(BiosSerialTest, AFileThatCannotBeReadIsAnError) {
  testing::TempDir dir;
  std::string serial = "stale";
  ASSERT_EQ(mkdir((dir / "product_serial").c_str(), 0700), 0);
  try {
    GetBIOSSerialNumber(".", &serial, dir / "product_serial");
    FAIL() << "no exception";
  } catch (const BiosSerialError& e) {
    EXPECT_EQ(std::string(e.what()),
              "BIOS serial number: " + (dir / "product_serial") + ": Is a directory");
  }
  EXPECT_EQ(serial, "");
  EXPECT_THROW(GetBIOSSerialNumber("OTHER-PC", &serial, dir / "x"), std::invalid_argument);
}

}  // namespace
}  // namespace quarrin
