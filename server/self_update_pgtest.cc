// The agent's signed self-update through the server's update site: a build
// published to the pilot ring is not offered to an agent of the main ring
// until it is promoted there; then the agent fetches it, checks its
// signature and comes back as the new version.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_version.h"
#include "http/raw_http_client_testing.h"
#include "server/fleet_server.h"
#include "server/pg_testing.h"
#include "tests/test_support.h"
#include "update/signing_testing.h"
#include "update/update_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::RunCommand;

class ServerSelfUpdateTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    keys_ = std::make_unique<testing::MinisignKeyPair>(dir_.path(), "maker");
    settings_.port = 0;
    settings_.listen_address = "127.0.0.1";
    settings_.syslog_port = 0;
    settings_.downloads_folder = dir_ / "downloads";
    settings_.update_key = keys_->public_key_line();
    server_ = std::make_unique<FleetServer>(settings_, *pool_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    env_ = {"QUARRIN_ROOT=" + root_.path(), "QUARRIN_LIVE_FACTS=0", "NOTIFY_SOCKET="};
  }
  void TearDown() override {
    // Never leave a service process behind.
    for (const char* name : {"TARNQuarrinSrvc", "TARNStartSrvc"}) {
      RunCommand({BuiltExecutable("quarrinctl"), "sc", "stop", name}, env_);
      testing::WaitFor([&] { return State(name) == "STOPPED\n"; }, 10s);
    }
    server_.reset();
    PgTest::TearDown();
  }

  void Ctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BuiltExecutable("quarrinctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    const testing::CommandResult r = RunCommand(argv, env_);
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }
  std::string State(const std::string& service) {
    return RunCommand({BuiltExecutable("quarrinctl"), "sc", "query", service}, env_).out;
  }
  void Install(const std::string& built, const std::string& image) {
    testing::PlaceExecutable(built, image, 0755);
    const testing::CommandResult r = RunCommand({image, "-INSTALL", "-SILENT"}, env_);
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }
  std::string AnsweringVersion() {
    const testing::RawResponse page =
        testing::RawExchange(agent_port_, testing::SimpleRequest("GET / HTTP/1.1"), 5s);
    const std::string marker = "<b>Version: </b>";
    size_t at = page.body.find(marker);
    if (page.status != 200 || at == std::string::npos) return "";
    at += marker.size();
    return page.body.substr(at, page.body.find('<', at) - at);
  }

  testing::TempDir dir_;
  testing::TempDir root_;
  std::unique_ptr<testing::MinisignKeyPair> keys_;
  ServerSettings settings_;
  std::unique_ptr<FleetServer> server_;
  std::vector<std::string> env_;
  const uint16_t agent_port_ = testing::FreePort();
};

TEST_F(ServerSelfUpdateTest, AnAgentTakesABuildOnceItsRingServesIt) {
  const std::string url = "http://127.0.0.1:" + std::to_string(server_->port());
  const std::string deployment = "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment";
  Ctl({"reg", "set", deployment, "ManifestURL", "REG_SZ", url + "/downloads/QuarrinSrvc.xml"});
  Ctl({"reg", "set", deployment, "DefaultDownloadURL", "REG_SZ", url + "/downloads"});
  Ctl({"reg", "set", deployment, "UpdatePublicKey", "REG_SZ", keys_->public_key_line()});
  Ctl({"reg", "set", deployment, "HTTPPort", "REG_SZ", std::to_string(agent_port_)});
  // Without the live view the details collected at start-up need this.
  Ctl({"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "InstallDate",
       "REG_DWORD", "0"});
  const std::string folder = root_.path() + "/opt/TARN";
  Install(testing::CurrentAgent(), folder + "/QuarrinSrvc");
  Install(BuiltExecutable("TARNStartSrvc"), folder + "/TARNStartSrvc");
  Ctl({"sc", "start", "TARNQuarrinSrvc"});
  const std::string current = GetFileVersion(testing::CurrentAgent()).Text;
  const std::string next = GetFileVersion(testing::NextAgent()).Text;
  ASSERT_TRUE(testing::WaitFor([&] { return AnsweringVersion() == current; }, 15s));

  // Published with the server's own command: into the pilot ring.
  std::filesystem::create_directories(dir_ / "build");
  std::filesystem::copy_file(testing::NextAgent(), dir_ / "build/QuarrinSrvc");
  keys_->Sign(dir_ / "build/QuarrinSrvc");
  testing::WriteFileText(dir_ / "server.conf",
                         "downloads_folder = " + settings_.downloads_folder + "\n"
                         "update_key = " + settings_.update_key + "\n");
  const testing::CommandResult published =
      RunCommand({BuiltExecutable("quarrin-server"), "--config", dir_ / "server.conf", "publish",
                  dir_ / "build/QuarrinSrvc", dir_ / "build/QuarrinSrvc.minisig"});
  ASSERT_EQ(published.exit_status, 0) << published.err;

  const auto update = [&] {
    return testing::RawExchange(agent_port_, testing::SimpleRequest("GET /update HTTP/1.1"), 30s);
  };
  EXPECT_EQ(update().status, 200);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(AnsweringVersion(), current);

  const testing::CommandResult promoted =
      RunCommand({BuiltExecutable("quarrin-server"), "--config", dir_ / "server.conf", "promote",
                  next, "main"});
  ASSERT_EQ(promoted.exit_status, 0) << promoted.err;
  EXPECT_EQ(update().status, 200);
  ASSERT_TRUE(testing::WaitFor([&] { return AnsweringVersion() == next; }, 30s))
      << State("TARNQuarrinSrvc") << State("TARNStartSrvc");
  EXPECT_EQ(testing::ReadFileText(folder + "/QuarrinSrvc"),
            testing::ReadFileText(testing::NextAgent()));
}

}  // namespace
}  // namespace quarrin
