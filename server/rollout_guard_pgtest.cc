// The rollout guard on a real database: which machines of a ring count as
// having tried a build, failed or gone silent, and the halt it leads to.
#include <gtest/gtest.h>

#include <filesystem>

#include "server/pg_testing.h"
#include "server/rollout_guard.h"
#include "server/store.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

class RolloutGuardTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    for (const char* version : {"1.0.0.0", "1.0.0.1"}) {
      const std::string build = dir_ / ("builds/" + std::string(version));
      std::filesystem::create_directories(build);
      testing::WriteFileText(build + "/QuarrinSrvc", version);
    }
    site_ = std::make_unique<UpdateSite>(UpdateSiteOptions{dir_.path(), {"pilot"}, "", "Off", ""});
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
    site_->Promote("1.0.0.0", "pilot", now - 86400);
    site_->Promote("1.0.0.1", "pilot", now - 3 * 3600);  // the rollout began three hours ago
  }

  // A machine reporting from `address` whose manifest came from `ring`.
  void Machine(const std::string& name, const std::string& address, const std::string& ring) {
    InventoryStore store(*pool_, 300s);
    tPCDetails d;
    d.MachineName = name;
    store.PutDetails(d, address);
    Connect()->Exec("INSERT INTO machine_rings (machine_id, ring, fetched)"
                    " SELECT id, $2, now() FROM machines WHERE last_address = $1::inet",
                    {address, ring});
    // Its last report long before the rollout.
    Connect()->Exec("UPDATE machines SET last_seen = now() - interval '2 days' WHERE name_key = $1",
                    {name});
  }
  void Event(const std::string& name, const std::string& code, int minutes_ago) {
    Connect()->Exec(
        "INSERT INTO events (received, sender, machine_id, facility, severity, code, message)"
        " SELECT now() - make_interval(mins => $2::integer), last_address, id, 2, 5, $3, 'm'"
        " FROM machines WHERE name_key = $1",
        {name, std::to_string(minutes_ago), code});
  }

  testing::TempDir dir_;
  std::unique_ptr<UpdateSite> site_;
};

TEST_F(RolloutGuardTest, HaltsARingWhoseMachinesFailOrGoSilent) {
  Machine("SILENT", "10.0.0.1", "pilot");
  Event("SILENT", "50110", 120);  // restarted into the build two hours ago; nothing since
  Machine("FAILED", "10.0.0.2", "pilot");
  Event("FAILED", "10020", 60);
  Machine("FINE", "10.0.0.3", "pilot");
  Event("FINE", "50110", 120);
  Event("FINE", "50000", 119);
  Machine("RUNNING", "10.0.0.4", "pilot");
  InventoryStore(*pool_, 300s).PutApplication({"RUNNING", "QuarrinSrvc", "/opt/q", "1.0.0.1"});
  Machine("JUSTNOW", "10.0.0.5", "pilot");
  Event("JUSTNOW", "50110", 5);  // restarting: not silent yet
  Machine("OLDFAIL", "10.0.0.6", "pilot");
  Event("OLDFAIL", "10020", 4 * 60);  // before the rollout
  Machine("MAIN", "10.0.0.7", "main");
  Event("MAIN", "10030", 30);

  RolloutGuard lenient(*pool_, *site_, {2, 50, 60min});
  const std::optional<RingRollout> rollout = site_->Rollout("pilot");
  ASSERT_TRUE(rollout);
  const RolloutHealth health = lenient.Health("pilot", "1.0.0.1", rollout->started);
  EXPECT_EQ(health.tried, 5);  // SILENT, FAILED, FINE, RUNNING, JUSTNOW
  EXPECT_EQ(health.failed, 1);
  EXPECT_EQ(health.silent, 1);
  EXPECT_EQ(health.troubled, 2);
  // 2 of 5 is 40 %: under this guard's 50 %.
  EXPECT_TRUE(lenient.Check().empty());
  EXPECT_FALSE(site_->Halted("pilot"));

  RolloutGuard guard(*pool_, *site_, {2, 40, 60min});
  EXPECT_EQ(guard.Check(), std::vector<std::string>{"pilot"});
  EXPECT_EQ(site_->ServedVersion("pilot"), "1.0.0.0");
  EXPECT_EQ(RolloutStateText(*site_, "pilot"),
            "halted: 1.0.0.1 is held back and the ring offers 1.0.0.0; 2 of the 5 machines that "
            "took or tried 1.0.0.1 are in trouble: 1 logged an update failure, 1 went silent after "
            "restarting into it");
  EXPECT_TRUE(guard.Check().empty());  // halted already

  // Resumed by an administrator, it never halts by itself again.
  site_->Resume("pilot");
  Machine("FAILED2", "10.0.0.8", "pilot");
  Event("FAILED2", "10000", 1);
  EXPECT_TRUE(guard.Check().empty());
  EXPECT_EQ(site_->ServedVersion("pilot"), "1.0.0.1");
}

TEST(RolloutHaltTest, NeedsBothTheCountAndTheShare) {
  const RolloutGuardOptions options{3, 10, 60min};
  struct Case {
    RolloutHealth health;
    bool halts;
  } cases[] = {
      {{100, 2, 0, 2}, false},  // too few machines
      {{100, 2, 1, 3}, false},  // 3 %
      {{20, 2, 1, 3}, true},    // 15 %
      {{30, 3, 0, 3}, true},    // exactly 10 %
      {{0, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.health.troubled) + " of " + std::to_string(c.health.tried));
    EXPECT_EQ(HaltReason(options, "1.0.0.1", c.health).has_value(), c.halts);
  }
}

}  // namespace
}  // namespace quarrin
