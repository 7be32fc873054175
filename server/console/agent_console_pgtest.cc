// The machine page's agent and action parts and the audit page, through
// the whole fleet server on a real database, with a stand-in agent on
// loopback: what each role sees and may do, what reaches the agent, and
// what the browser gets when the agent does not answer.
#include <gtest/gtest.h>

#include <filesystem>

#include "server/console/console_testing.h"
#include "server/fleet_server.h"
#include "server/pg_testing.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::HttpTestServer;
using testing::Reply;

constexpr char kPassword[] = "a long enough password";
constexpr char kJpeg[] = "\xff\xd8\xff\xe0 a chart";

class AgentConsoleTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    agent_ = std::make_unique<HttpTestServer>([](const testing::RecordedRequest& r) {
      if (r.target == "/disk_d") return Reply(200, kJpeg, "image/jpeg");
      if (r.target == "/disk_w") {
        return Reply(200, "<?xml version=\"1.0\" ?><Quarrin><Error>no series</Error></Quarrin>",
                     "text/xml");
      }
      if (r.target == "/info") {
        return Reply(200, "<?xml version=\"1.0\" ?><Quarrin><MachineName>PC-07</MachineName>"
                          "<RegisteredOwner>&lt;b&gt;Olga</RegisteredOwner></Quarrin>", "text/xml");
      }
      return Reply(200, "<?xml version=\"1.0\" ?><Quarrin><Result>OK</Result></Quarrin>", "text/xml");
    });
    Serve(agent_->port());
    InventoryStore store(*pool_, 300s);
    tPCDetails d;
    d.MachineName = "PC-07";
    store.PutDetails(d, "127.0.0.1");
    ConsoleAccounts accounts(*pool_, SessionLimits{});
    accounts.AddUser("Vera", Role::kViewer, kPassword);
    accounts.AddUser("Otto", Role::kOperator, kPassword);
  }
  void TearDown() override {
    server_.reset();
    PgTest::TearDown();
  }

  void Serve(uint16_t agent_port) {
    server_.reset();
    settings_.port = 0;
    settings_.listen_address = "127.0.0.1";
    settings_.syslog_port = 0;
    settings_.downloads_folder = dir_ / "downloads";
    settings_.agent_port = agent_port;
    settings_.agent_read_timeout = 3s;
    server_ = std::make_unique<FleetServer>(settings_, *pool_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  testing::ConsoleBrowser LoggedIn(const std::string& name) {
    testing::ConsoleBrowser b(server_->port());
    EXPECT_EQ(b.Login(name, kPassword).status, 303);
    return b;
  }

  testing::TempDir dir_;
  ServerSettings settings_;
  std::unique_ptr<HttpTestServer> agent_;
  std::unique_ptr<FleetServer> server_;
};

TEST_F(AgentConsoleTest, AnOperatorSeesTheAgentActsAndFindsItInTheAuditLog) {
  testing::ConsoleBrowser b = LoggedIn("otto");
  testing::RawResponse page = b.Get("/console/machines/pc-07");
  ASSERT_EQ(page.status, 200) << page.body;
  EXPECT_NE(page.body.find("<img src=\"/console/agent/PC-07/disk_d\""), std::string::npos);
  EXPECT_NE(page.body.find("action=\"/console/machines/PC-07/message\""), std::string::npos);

  const testing::RawResponse chart = b.Get("/console/agent/PC-07/disk_d");
  EXPECT_EQ(chart.status, 200);
  EXPECT_EQ(chart.Header("Content-Type"), "image/jpeg");
  EXPECT_EQ(chart.body, kJpeg);
  const testing::RawResponse no_chart = b.Get("/console/agent/PC-07/disk_w");
  EXPECT_EQ(no_chart.status, 502);
  EXPECT_EQ(no_chart.Header("Content-Type"), "image/svg+xml");
  EXPECT_NE(no_chart.body.find("PC-07: the agent drew no chart: no series"), std::string::npos);
  const testing::RawResponse info = b.Get("/console/agent/PC-07/info");
  EXPECT_EQ(info.status, 200);
  EXPECT_NE(info.body.find("<dt>RegisteredOwner</dt><dd>&lt;b&gt;Olga</dd>"), std::string::npos)
      << info.body;
  EXPECT_EQ(b.Get("/console/agent/PC-07/odx").status, 404);
  EXPECT_EQ(b.Get("/console/agent/PC-99/disk_d").status, 404);

  const testing::RawResponse sent = b.Post("/console/machines/PC-07/message", {{"text", "Hi there"}});
  EXPECT_EQ(sent.status, 200);
  EXPECT_NE(sent.body.find("the agent answered: Result OK"), std::string::npos) << sent.body;
  const testing::RawResponse refused =
      b.Post("/console/machines/PC-07/comment", {{"value", "front desk"}});
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(refused.body.find("the value holds a blank"), std::string::npos);
  EXPECT_EQ(agent_->Requests().back().target, "/?msg=Hi%20there");

  const testing::RawResponse audit = b.Get("/console/audit?machine=pc-07");
  EXPECT_EQ(audit.status, 200);
  EXPECT_NE(audit.body.find("<td>Otto</td><td>message</td>"), std::string::npos) << audit.body;
  EXPECT_NE(audit.body.find("Hi there"), std::string::npos);
  EXPECT_EQ(b.Get("/console/audit?actor=Vera").body.find("Hi there"), std::string::npos);
  EXPECT_EQ(b.Get("/console/audit?before=x").status, 400);
}

TEST_F(AgentConsoleTest, AViewerReadsButCannotAct) {
  testing::ConsoleBrowser b = LoggedIn("vera");
  const testing::RawResponse page = b.Get("/console/machines/PC-07");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.body.find("/console/machines/PC-07/message"), std::string::npos);
  EXPECT_NE(page.body.find("/console/agent/PC-07/disk_d"), std::string::npos);
  EXPECT_EQ(b.Post("/console/machines/PC-07/message", {{"text", "Hi"}}).status, 403);
  EXPECT_EQ(b.Post("/console/updates/resume", {{"ring", "pilot"}}).status, 403);
  EXPECT_EQ(b.Get("/console/audit").status, 200);
  EXPECT_EQ(agent_->RequestCount(), 0u);
}

TEST_F(AgentConsoleTest, AnAgentThatDoesNotAnswerIsAMessageInItsPlace) {
  testing::RefusingPort closed;
  Serve(closed.port());
  testing::ConsoleBrowser b = LoggedIn("otto");
  const testing::RawResponse chart = b.Get("/console/agent/PC-07/disk_d");
  EXPECT_EQ(chart.status, 502);
  EXPECT_NE(chart.body.find("the agent at 127.0.0.1:" + std::to_string(closed.port()) +
                            " does not answer"),
            std::string::npos)
      << chart.body;
  const testing::RawResponse info = b.Get("/console/agent/PC-07/info");
  EXPECT_EQ(info.status, 502);
  EXPECT_NE(info.body.find("does not answer"), std::string::npos);
  const testing::RawResponse sent = b.Post("/console/machines/PC-07/update-check", {});
  EXPECT_EQ(sent.status, 502);
  EXPECT_NE(b.Get("/console/audit").body.find("failed"), std::string::npos);
}

TEST_F(AgentConsoleTest, TheUpdatesPageSaysWhyARolloutHaltedAndAnAdministratorResumesIt) {
  UpdateSite site(UpdateSiteOf(settings_));
  for (const char* version : {"1.0.0.0", "1.0.0.1"}) {
    const std::string build = settings_.downloads_folder + "/builds/" + version;
    std::filesystem::create_directories(build);
    testing::WriteFileText(build + "/QuarrinSrvc", version);
    site.Promote(version, "pilot");
  }
  site.Halt("pilot", "3 machines went silent");
  ConsoleAccounts(*pool_, SessionLimits{}).AddUser("Ada", Role::kAdministrator, kPassword);
  testing::ConsoleBrowser b = LoggedIn("ada");
  const testing::RawResponse page = b.Get("/console/updates");
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("halted: 1.0.0.1 is held back and the ring offers 1.0.0.0; 3 machines "
                           "went silent"),
            std::string::npos)
      << page.body;
  EXPECT_NE(page.body.find("Resume 1.0.0.1</button>"), std::string::npos);
  EXPECT_EQ(b.Post("/console/updates/resume", {{"ring", "pilot"}}).status, 303);
  EXPECT_FALSE(site.Halted("pilot"));
  EXPECT_EQ(site.ServedVersion("pilot"), "1.0.0.1");
  EXPECT_EQ(b.Post("/console/updates/resume", {{"ring", "pilot"}}).status, 409);
  EXPECT_EQ(LoggedIn("otto").Get("/console/updates").body.find("Resume"), std::string::npos);
}

}  // namespace
}  // namespace quarrin
