#include "report/ping_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/net/ipv4_lookup.h"

namespace quarrin {
namespace {

const uint32_t kLoopback = *ParseDottedIPv4("127.0.0.1");

// Records the echoes asked of it and answers with `answer`.
class RecordingEcho final : public IcmpEcho {
 public:
  struct Sent {
    uint32_t address;
    std::string payload;
    std::chrono::milliseconds timeout;
  };

  bool Echo(uint32_t address, std::string_view payload, std::chrono::milliseconds timeout,
            std::string*) override {
    sent.push_back({address, std::string(payload), timeout});
    return answer;
  }

  bool answer = true;
  std::vector<Sent> sent;
};

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

TEST(PingHostTest, OneEchoOfThePayloadGoesToTheResolvedAddress) {
  RecordingEcho echo;
  EXPECT_TRUE(PingHost("localhost", 2000, 5, echo));
  echo.answer = false;
  EXPECT_FALSE(PingHost("127.0.0.1", 0, 40, echo));
  ASSERT_EQ(echo.sent.size(), 2u);
  EXPECT_EQ(echo.sent[0].address, kLoopback);
  EXPECT_EQ(echo.sent[0].payload, "QuintarQuintarQuin");
  EXPECT_EQ(echo.sent[0].timeout, std::chrono::milliseconds(2000));
  EXPECT_EQ(echo.sent[1].payload, EchoPayload(40));
  EXPECT_EQ(echo.sent[1].timeout, std::chrono::milliseconds(0));
}

TEST(PingHostTest, NoEchoForAHostWithoutAddressOrBadArguments) {
  RecordingEcho echo;
  EXPECT_FALSE(PingHost("", 2000, 40, echo));
  // Not resolved means 0.0.0.0, which Linux would answer locally: no echo.
  EXPECT_FALSE(PingHost("servicedesk.quarrin.invalid", 2000, 40, echo));
  EXPECT_THROW(PingHost("127.0.0.1", -1, 40, echo), std::invalid_argument);
  EXPECT_THROW(PingHost("127.0.0.1", 2000, kMaxEchoSize + 1, echo), std::invalid_argument);
  EXPECT_TRUE(echo.sent.empty());
}

TEST(PingHostTest, TheLoopbackAnswersTheSystemsEcho) {
  EXPECT_TRUE(PingHost("127.0.0.1", 2000, 40));
  EXPECT_TRUE(PingHost("localhost", 2000, 5));
}

TEST(PingHostTest, NamesResolveToTheirFirstIPv4Address) {
  EXPECT_EQ(ResolveHostAddress("127.0.0.1"), kLoopback);
  EXPECT_EQ(ResolveHostAddress("localhost"), kLoopback);
  EXPECT_EQ(ResolveHostAddress("servicedesk.quarrin.invalid"), 0u);
  EXPECT_EQ(ResolveHostAddress(""), 0u);
}

}  // namespace
}  // namespace quarrin
