#include "platform/net/icmp_echo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/net/ipv4_lookup.h"

namespace quarrin {
namespace {

using std::chrono::milliseconds;

TEST(IcmpEchoTest, TheLoopbackSendsThePayloadBack) {
  const uint32_t loopback = *ParseDottedIPv4("127.0.0.1");
  for (size_t size : {size_t{18}, size_t{40}, size_t{32767}}) {
    const std::string payload(size, 'Q');
    std::string reply = "stale";
    ASSERT_TRUE(SystemIcmpEcho().Echo(loopback, payload, milliseconds(2000), &reply)) << size;
    EXPECT_EQ(reply, payload) << size;
  }
  EXPECT_TRUE(SystemIcmpEcho().Echo(loopback, "x", milliseconds(2000), nullptr));
}

}  // namespace
}  // namespace quarrin
