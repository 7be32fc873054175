#include "platform/net/ipv4_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace quarrin {
namespace {

uint32_t Address(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
  const unsigned char bytes[4] = {a, b, c, d};
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

TEST(Ipv4LookupTest, DottedTextsParseWithoutALookup) {
  struct {
    const char* text;
    std::optional<uint32_t> address;
  } cases[] = {
      {"127.0.0.1", Address(127, 0, 0, 1)},
      {"10.200.3.255", Address(10, 200, 3, 255)},
      {"0.0.0.0", Address(0, 0, 0, 0)},
      {"256.0.0.1", std::nullopt},
      {"10.0.0", std::nullopt},
      {"10.0.0.1 ", std::nullopt},
      {"localhost", std::nullopt},
      {"::1", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDottedIPv4(c.text), c.address) << c.text;
}

TEST(Ipv4LookupTest, NamesGiveTheirFirstAddressOrTheLookupError) {
  EXPECT_EQ(LookupIPv4Address("localhost"), Address(127, 0, 0, 1));
  EXPECT_EQ(LookupIPv4Address("127.0.0.1"), Address(127, 0, 0, 1));
  try {
    LookupIPv4Address("collector.quarrin.invalid");
    FAIL() << "resolved";
  } catch (const SocketError& e) {
    EXPECT_EQ(e.number(), kHostNotFound);
    EXPECT_STREQ(e.what(), "Host not found.");
  }
}

}  // namespace
}  // namespace quarrin
