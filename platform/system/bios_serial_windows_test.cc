#include "platform/system/bios_serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace quarrin {
namespace {

// What the serial number is depends on the machine; that WMI answers, in
// time and without a failure, does not.
TEST(WindowsBiosSerialTest, WmiAnswersWithinItsBound) {
  std::string text = "stale";
  const auto start = std::chrono::steady_clock::now();
  ASSERT_NO_THROW(SystemBiosSerial().Read(&text));
  const auto took = std::chrono::steady_clock::now() - start;
  // The answer's wait is bounded at 5 s; the connection comes on top.
  EXPECT_LT(took, std::chrono::seconds(15));
  EXPECT_NE(text, "stale");
  std::printf("serial number: '%s'\n", text.c_str());
}

}  // namespace
}  // namespace quarrin
