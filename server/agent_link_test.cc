#include "server/agent_link.h"

#include <gtest/gtest.h>

#include "tests/http_test_server.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::HttpTestServer;
using testing::Reply;
using testing::TestReply;

TEST(AgentValuesTest, TextsTravelAsTheAgentReadsThem) {
  EXPECT_EQ(MessageTarget("Back in 5 minutes"), "/?msg=Back%20in%205%20minutes");
  EXPECT_EQ(MessageTarget("a+b & 100% \xc3\xa9"), "/?msg=a+b%20&%20100%%20\xc3\xa9");
  EXPECT_EQ(SetterTarget("setserialno", "ABC-123/x"), "/setserialno=ABC-123/x");

  struct Case {
    std::string value;
    std::string why;
  } messages[] = {
      {"", "empty"}, {"see #4", "'#'"}, {"two\nlines", "control character"},
      {std::string(2001, 'x'), "longer than 2000"},
  }, values[] = {
      {"", "empty"}, {"front desk", "blank"}, {"no#1", "'#'"}, {"caf\xc3\xa9", "visible ASCII"},
      {std::string(201, 'x'), "longer than 200"},
  };
  for (const Case& c : messages) {
    SCOPED_TRACE(c.value);
    try {
      MessageTarget(c.value);
      ADD_FAILURE() << "taken";
    } catch (const AgentValueError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
  }
  for (const Case& c : values) {
    SCOPED_TRACE(c.value);
    try {
      SetterTarget("setcomment", c.value);
      ADD_FAILURE() << "taken";
    } catch (const AgentValueError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
  }
}

AgentLinkOptions OptionsFor(uint16_t port) {
  AgentLinkOptions o;
  o.port = port;
  o.connect_timeout = 2s;
  o.read_timeout = 1s;
  o.max_bytes = 1024;
  return o;
}

TEST(AgentLinkTest, FetchesFromTheAgentsPortAndSaysWhyWhenItCannot) {
  HttpTestServer agent([](const testing::RecordedRequest& r) {
    if (r.target == "/info") return Reply(200, "<Quarrin/>", "text/xml");
    if (r.target == "/update") return Reply(403, "Forbidden: this client may not use this command");
    if (r.target == "/big") return Reply(200, std::string(5000, 'x'));
    TestReply slow = Reply(200, "late");
    slow.delay = 5s;
    return slow;
  });
  const AgentLink link(CurlHttpClient(), OptionsFor(agent.port()));

  const AgentAnswer info = link.Get("127.0.0.1", "/info");
  EXPECT_TRUE(info.ok) << info.problem;
  EXPECT_EQ(info.body, "<Quarrin/>");
  EXPECT_EQ(info.content_type, "text/xml");
  EXPECT_EQ(agent.Requests().at(0).Header("User-Agent"), "quarrin-server");

  const AgentAnswer refused = link.Get("127.0.0.1", "/update");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.status, 403);
  EXPECT_NE(refused.problem.find("AllowedReaders or AllowedClients"), std::string::npos)
      << refused.problem;

  EXPECT_NE(link.Get("127.0.0.1", "/big").problem.find("sent more than 1024 bytes"),
            std::string::npos);

  const auto start = std::chrono::steady_clock::now();
  const AgentAnswer late = link.Get("127.0.0.1", "/slow");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_NE(late.problem.find("did not answer within 1 s"), std::string::npos) << late.problem;

  testing::RefusingPort closed;
  const AgentAnswer gone = AgentLink(CurlHttpClient(), OptionsFor(closed.port())).Get("127.0.0.1", "/");
  EXPECT_NE(gone.problem.find("does not answer"), std::string::npos) << gone.problem;

  const AgentAnswer named = link.Get("pc-17.example", "/");
  EXPECT_NE(named.problem.find("is not an IP address"), std::string::npos);
  EXPECT_EQ(agent.RequestCount(), 4u);
}

}  // namespace
}  // namespace quarrin
