#include "report/ping_host.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace quarrin {
namespace {

TEST(PingHostTest, ThePayloadIsTheWordRepeatedAndCut) {
  struct Case {
    int size;
    const char* payload;
  } cases[] = {
      {5, "QuintarQuintarQuin"},  // raised to 18 bytes
      {-3, "QuintarQuintarQuin"},    {18, "QuintarQuintarQuin"},
      {21, "QuintarQuintarQuintar"}, {40, "QuintarQuintarQuintarQuintarQuintarQuint"},
  };
  for (const Case& c : cases) EXPECT_EQ(EchoPayload(c.size), c.payload) << c.size;
  EXPECT_EQ(EchoPayload(kMaxEchoSize).size(), 32767u);
}

TEST(PingHostTest, TheEchoCarriesThePayloadThereAndBack) {
  std::string reply;
  ASSERT_TRUE(
      SendIcmpEcho(inet_addr("127.0.0.1"), EchoPayload(5), std::chrono::seconds(2), &reply));
  EXPECT_EQ(reply, "QuintarQuintarQuin");
  ASSERT_TRUE(SendIcmpEcho(inet_addr("127.0.0.1"), EchoPayload(kMaxEchoSize),
                           std::chrono::seconds(2), &reply));
  EXPECT_EQ(reply, EchoPayload(kMaxEchoSize));
}

TEST(PingHostTest, OnlyAHostThatAnswersIsReachable) {
  EXPECT_TRUE(PingHost("127.0.0.1", 2000, 40));
  EXPECT_TRUE(PingHost("localhost", 2000, 5));
  EXPECT_FALSE(PingHost("", 2000, 40));
  // Not resolved means 0.0.0.0, which Linux would answer locally: no echo.
  EXPECT_FALSE(PingHost("servicedesk.quarrin.invalid", 2000, 40));
  EXPECT_THROW(PingHost("127.0.0.1", -1, 40), std::invalid_argument);
  EXPECT_THROW(PingHost("127.0.0.1", 2000, kMaxEchoSize + 1), std::invalid_argument);
}

TEST(PingHostTest, NamesResolveToTheirFirstIPv4Address) {
  EXPECT_EQ(ResolveHostAddress("127.0.0.1"), inet_addr("127.0.0.1"));
  EXPECT_EQ(ResolveHostAddress("localhost"), inet_addr("127.0.0.1"));
  EXPECT_EQ(ResolveHostAddress("servicedesk.quarrin.invalid"), 0u);
  EXPECT_EQ(ResolveHostAddress(""), 0u);
}

}  // namespace
}  // namespace quarrin
