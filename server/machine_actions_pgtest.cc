// Actions on machines on a real database, against a stand-in agent on
// loopback: what reaches the agent, what the audit log and the asset
// register keep, and what is refused before anything is sent.
#include <gtest/gtest.h>

#include "server/machine_actions.h"
#include "server/pg_testing.h"
#include "tests/http_test_server.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::HttpTestServer;
using testing::Reply;

class MachineActionsTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    store_ = std::make_unique<InventoryStore>(*pool_, 300s);
    audit_ = std::make_unique<AuditLog>(*pool_);
    tPCDetails d;
    d.MachineName = "PC-07";
    store_->PutDetails(d, "127.0.0.1");
    d.MachineName = "PC-NOWHERE";
    store_->PutDetails(d);
  }

  MachineActions Actions(uint16_t agent_port) {
    AgentLinkOptions o;
    o.port = agent_port;
    o.connect_timeout = 2s;
    o.read_timeout = 2s;
    link_ = std::make_unique<AgentLink>(CurlHttpClient(), o);
    return MachineActions(*store_, *audit_, *link_, "dd/MM/yyyy");
  }

  std::unique_ptr<InventoryStore> store_;
  std::unique_ptr<AuditLog> audit_;
  std::unique_ptr<AgentLink> link_;
};

TEST_F(MachineActionsTest, EachActionReachesTheAgentAndIsAudited) {
  HttpTestServer agent([](const testing::RecordedRequest&) {
    return Reply(200, "<?xml version=\"1.0\" ?><Quarrin><Result>OK</Result></Quarrin>", "text/xml");
  });
  MachineActions actions = Actions(agent.port());

  const ActionOutcome shown = actions.ShowMessage("olga", "pc-07.corp.example", "Back in 5 minutes");
  EXPECT_TRUE(shown.ok) << shown.summary;
  EXPECT_EQ(shown.summary, "the agent answered: Result OK");
  EXPECT_TRUE(actions.CheckForUpdate("olga", "PC-07").ok);
  EXPECT_TRUE(actions.SetComment("olga", "PC-07", "front-desk").ok);
  EXPECT_TRUE(actions.SetSerialNumber("admin", "PC-07", "SN-4711").ok);
  EXPECT_TRUE(actions.SetAcquisitionDate("admin", "PC-07", "2024-03-05").ok);

  std::vector<std::string> targets;
  for (const auto& r : agent.Requests()) targets.push_back(r.target);
  EXPECT_EQ(targets, (std::vector<std::string>{"/?msg=Back%20in%205%20minutes", "/update",
                                               "/setcomment=front-desk", "/setserialno=SN-4711",
                                               "/setaquisitiondate=05/03/2024"}));
  // The register keeps both, each action leaving the other's value.
  const std::optional<AssetRecord> asset = store_->FindAsset("PC-07");
  ASSERT_TRUE(asset);
  EXPECT_EQ(asset->service_tag, "SN-4711");
  EXPECT_EQ(asset->acquisition_date, "2024-03-05");

  const std::vector<AuditEntry> all = audit_->List({});
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].action, "set-acquisition");  // newest first
  EXPECT_EQ(all[4].action, "message");
  EXPECT_EQ(all[4].actor, "olga");
  EXPECT_EQ(all[4].detail, "Back in 5 minutes");
  EXPECT_EQ(all[4].machine_name, "PC-07");
  EXPECT_EQ(all[4].address, "127.0.0.1");
  EXPECT_TRUE(all[4].ok);
  EXPECT_EQ(all[4].agent_status, 200);
  EXPECT_EQ(all[4].at.size(), 20u) << all[4].at;
  EXPECT_EQ(audit_->List({"pc-07", "admin", std::nullopt, 100}).size(), 2u);
  EXPECT_EQ(audit_->List({"", "", all[1].id, 100}).size(), 3u);
  EXPECT_TRUE(audit_->List({"PC-08", "", std::nullopt, 100}).empty());
}

TEST_F(MachineActionsTest, FailuresAreAuditedAndRefusalsSendNothing) {
  testing::RefusingPort closed;
  MachineActions actions = Actions(closed.port());
  const ActionOutcome silent = actions.ShowMessage("olga", "PC-07", "hello");
  EXPECT_FALSE(silent.ok);
  EXPECT_NE(silent.summary.find("does not answer"), std::string::npos) << silent.summary;
  const ActionOutcome nowhere = actions.CheckForUpdate("olga", "PC-NOWHERE");
  EXPECT_NE(nowhere.summary.find("has not reported from an address"), std::string::npos);
  const std::vector<AuditEntry> logged = audit_->List({});
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_FALSE(logged[1].ok);
  EXPECT_FALSE(logged[1].agent_status);
  EXPECT_EQ(logged[1].answer, silent.summary);
  EXPECT_EQ(logged[0].address, "");

  EXPECT_THROW(actions.ShowMessage("olga", "PC-99", "hello"), ActionRefused);
  EXPECT_THROW(actions.SetComment("olga", "PC-07", "two words"), ActionRefused);
  EXPECT_THROW(actions.SetAcquisitionDate("olga", "PC-07", "2024-02-30"), ActionRefused);
  EXPECT_EQ(audit_->List({}).size(), 2u);
  EXPECT_FALSE(store_->FindAsset("PC-07"));
}

TEST_F(MachineActionsTest, TheLogCannotBeChangedAndOldEntriesLeave) {
  AuditEntry e;
  e.actor = "olga";
  e.action = "message";
  e.machine_name = "PC-07";
  e.answer = std::string(5000, 'x') + "\xc3\xa9";
  audit_->Record(e);
  EXPECT_EQ(Count("SELECT length(answer) FROM audit_log"), static_cast<int64_t>(kMaxAuditAnswerBytes));
  try {
    Connect()->Exec("UPDATE audit_log SET actor = 'someone else'");
    ADD_FAILURE() << "changed";
  } catch (const PgError& error) {
    EXPECT_NE(std::string(error.what()).find("the audit log cannot be changed"), std::string::npos);
  }
  Connect()->Exec(
      "INSERT INTO audit_log (at, actor, action, name_key, machine_name, outcome)"
      " SELECT now() - make_interval(days => d), 'olga', 'message', 'PC-07', 'PC-07', 'ok'"
      " FROM unnest(ARRAY[300, 366, 367, 400]) AS d");
  EXPECT_EQ(audit_->DeleteOld(365, 2), 2);
  EXPECT_EQ(audit_->DeleteOld(365, 2), 1);
  EXPECT_EQ(audit_->DeleteOld(365, 2), 0);
  EXPECT_EQ(Count("SELECT count(*) FROM audit_log"), 2);
}

}  // namespace
}  // namespace quarrin
