// The whole loop on loopback: quarrin-server on its own database, the real
// agent (QuarrinSrvc) pointed at it for every outside system, its first
// daily run brought forward by a faster clock. After the run the server
// holds the agent's details, attributes and applications, and the lookup
// filled the acquisition date from the register that import-assets filled.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <thread>

#include "http/raw_http_client_testing.h"
#include "platform/text/ascii.h"
#include "server/machine_identity.h"
#include "server/pg_testing.h"
#include "tests/child_process.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::Child;
using testing::RunCommand;

constexpr char kToken[] = "e2e-token-0123456789";

class AgentLoopTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    port_ = testing::FreePort();
    testing::WriteFileText(dir_ / "server.conf",
                           "# the end-to-end test's server\n"
                           "listen_address = 127.0.0.1\n"
                           "port = " + std::to_string(port_) + "\n"
                           "syslog_port = 0\n"
                           "database = " + Conninfo(database_) + "\n"
                           "api_tokens = " + kToken + "\n"
                           "report_quiet_period_s = 2\n");
  }

  testing::CommandResult ServerCommand(std::vector<std::string> args) {
    args.insert(args.begin(), {BuiltExecutable("quarrin-server"), "--config", dir_ / "server.conf"});
    return RunCommand(args);
  }

  testing::RawResponse Api(const std::string& target) {
    return testing::RawExchange(port_, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                       "Authorization: Bearer " + kToken + "\r\n\r\n", 10s);
  }

  std::string Log(const std::string& name) {
    try {
      return testing::ReadFileText(dir_ / name);
    } catch (...) {
      return "";
    }
  }

  testing::TempDir dir_;
  uint16_t port_ = 0;
};

TEST_F(AgentLoopTest, TheAgentsDailyRunArrivesWhole) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string key = MachineKey(host);

  // A register file with a broken row imports nothing and says where.
  testing::WriteFileText(dir_ / "broken.csv",
                         "name,service_tag,acquisition_date\n" + key + ",TAG-E2E,2004-06-15\nPC2,X\n");
  const testing::CommandResult broken = ServerCommand({"import-assets", dir_ / "broken.csv"});
  EXPECT_EQ(broken.exit_status, 1);
  EXPECT_NE(broken.err.find("broken.csv: line 3: 2 fields, not 3"), std::string::npos) << broken.err;
  EXPECT_EQ(Count("SELECT count(*) FROM assets"), 0);
  testing::WriteFileText(dir_ / "assets.csv",
                         "name,service_tag,acquisition_date\n" + LowerAscii(key) +
                             ".corp.example,TAG-E2E,2004-06-15\n");
  const testing::CommandResult imported = ServerCommand({"import-assets", dir_ / "assets.csv"});
  ASSERT_EQ(imported.exit_status, 0) << imported.err;

  Child server({BuiltExecutable("quarrin-server"), "--config", dir_ / "server.conf"}, {},
               dir_ / "server.log");
  for (int i = 0; i < 500 && Api("/api/v1/status").status != 200; ++i) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(Api("/api/v1/status").status, 200) << Log("server.log");

  const std::string root = dir_ / "agent";
  const std::string url = "http://127.0.0.1:" + std::to_string(port_);
  const std::vector<std::string> agent_env = {"QUARRIN_ROOT=" + root, "QUARRIN_SCM=TARNQuarrinSrvc",
                                              "NOTIFY_SOCKET=", "QUARRIN_CLOCK_SPEED=60"};
  testing::WriteFileText(
      dir_ / "deployment.reg",
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
      "\"HTTPPort\"=\"" + std::to_string(testing::FreePort()) + "\"\n"
      "\"ManifestURL\"=\"" + url + "/downloads/QuarrinSrvc.xml\"\n"
      "\"InventoryURL\"=\"" + url + "/quarrin/quarrinws.dll/soap/IQuarrin\"\n"
      "\"LookupPingHost\"=\"127.0.0.1\"\n"
      "\"LookupWebHost\"=\"127.0.0.1:" + std::to_string(port_) + "\"\n"
      "\"LookupDomainSuffix\"=\".corp.example\"\n"
      // An installed application for the report to send.
      "[HKEY_CLASSES_ROOT\\Word.Application\\CLSID]\n@=\"{W}\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{W}\\LocalServer32]\n@=\"/opt/office/winword /automation\"\n");
  const testing::CommandResult reg =
      RunCommand({BuiltExecutable("quarrinctl"), "reg", "import", dir_ / "deployment.reg"}, agent_env);
  ASSERT_EQ(reg.exit_status, 0) << reg.err;
  Child agent({BuiltExecutable("QuarrinSrvc")}, agent_env, dir_ / "agent.log");

  // The first daily run comes two agent minutes after the start: two
  // seconds at this clock speed; the applications' report then ends after
  // the server's quiet period.
  std::string machine;
  for (int i = 0; i < 600; ++i) {
    const testing::RawResponse r = Api("/api/v1/machines/" + key);
    machine = r.body;
    if (r.status == 200 && machine.find("\"applications_reported\":null") == std::string::npos &&
        machine.find("\"attributes_reported\":null") == std::string::npos &&
        machine.find("\"details_reported\":null") == std::string::npos) {
      break;
    }
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(agent.running()) << Log("agent.log");
  EXPECT_NE(machine.find("\"key\":\"" + key + "\""), std::string::npos) << machine;
  EXPECT_NE(machine.find("\"AquisitionDate\":\"2004-06-15T00:00:00\""), std::string::npos)
      << machine << "\n" << Log("server.log");
  EXPECT_NE(machine.find("\"application\":\"Word\",\"path\":\"/opt/office/winword\""),
            std::string::npos)
      << machine;
  EXPECT_NE(machine.find("\"asset\":{\"service_tag\":\"TAG-E2E\""), std::string::npos) << machine;
  EXPECT_EQ(Count("SELECT count(*) FROM machines"), 1);
  EXPECT_GE(Count("SELECT count(*) FROM machine_applications WHERE gone IS NULL"), 1);
}

}  // namespace
}  // namespace quarrin
