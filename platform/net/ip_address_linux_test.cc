#include "platform/net/ip_address.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

IpAddress Ip(const char* text) {
  std::optional<IpAddress> a = ParseIpAddress(text);
  EXPECT_TRUE(a.has_value()) << text;
  return a.value_or(IpAddress{});
}

TEST(IpAddressTest, IPv4IsHeldMappedAndWrittenDotted) {
  EXPECT_EQ(Ip("127.0.0.1"), Ip("::ffff:127.0.0.1"));
  EXPECT_TRUE(Ip("10.1.2.3").IsIPv4());
  EXPECT_FALSE(Ip("::1").IsIPv4());
  EXPECT_EQ(Ip("::ffff:10.1.2.3").Text(), "10.1.2.3");
  EXPECT_EQ(Ip("fe80:0::1").Text(), "fe80::1");
  for (const char* bad : {"", " 10.0.0.1", "10.0.0", "10.0.0.256", "::1%lo", "host", "1.2.3.4:88"}) {
    EXPECT_FALSE(ParseIpAddress(bad)) << bad;
  }
}

}  // namespace
}  // namespace quarrin
