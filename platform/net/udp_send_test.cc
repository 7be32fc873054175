#include "platform/net/udp_send.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/net/ipv4_lookup.h"
#include "tests/udp_collector.h"

namespace quarrin {
namespace {

TEST(UdpSendTest, ADatagramArrivesWholeOrFailsWithTheSystemsError) {
  testing::UdpCollector collector;
  const uint32_t loopback = *ParseDottedIPv4("127.0.0.1");
  for (size_t size : {size_t{0}, size_t{1}, kMaxUdpDatagramBytes}) {
    const std::string datagram(size, 'd');
    SendUdpDatagram(loopback, collector.port(), datagram);
    EXPECT_EQ(collector.Receive(std::chrono::milliseconds(2000)), datagram) << size;
  }
  try {
    SendUdpDatagram(loopback, collector.port(), std::string(kMaxUdpDatagramBytes + 1, 'd'));
    FAIL() << "sent";
  } catch (const SocketError& e) {
    // The text is the system's own (Wine has none for socket errors and
    // names the number instead).
    EXPECT_NE(e.number(), 0);
    EXPECT_STRNE(e.what(), "") << e.number();
  }
  EXPECT_EQ(collector.Receive(std::chrono::milliseconds(100)), std::nullopt);
}

}  // namespace
}  // namespace quarrin
