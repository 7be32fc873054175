// The whole self-update as an administrator sees it: an installed agent and
// starter below a temporary QUARRIN_ROOT, the next build published on a
// download site on loopback, GET /update, and the agent answering again as
// the new version with its executable replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/file_version.h"
#include "http/raw_http_client_testing.h"
#include "platform/eventlog/event_log.h"
#include "platform/files/paths.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"
#include "update/signing_testing.h"
#include "update/update_check.h"
#include "update/update_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::CommandResult;
using testing::CurrentAgent;
using testing::NextAgent;
using testing::PlaceExecutable;
using testing::ReadFileText;
using testing::RecordedRequest;
using testing::Reply;
using testing::RunCommand;
using testing::TestReply;
using testing::WaitFor;

class SelfUpdateTest : public ::testing::Test {
 protected:
  SelfUpdateTest()
      : folder_(root_.path() + "/opt/TARN"),
        port_(testing::FreePort()),
        next_bytes_(ReadFileText(NextAgent())),
        site_([this](const RecordedRequest& r) -> TestReply {
          if (r.path == "/Downloads/QuarrinSrvc.xml") {
            return Reply(200, testing::ManifestFor(GetFileVersion(NextAgent())), "text/xml");
          }
          if (r.path == "/Downloads/QuarrinSrvc") {
            return Reply(200, next_bytes_, "application/octet-stream");
          }
          if (r.path == "/Downloads/QuarrinSrvc.minisig") {
            std::lock_guard lock(mu_);
            return signature_.empty() ? Reply(404, "Not Found") : Reply(200, signature_);
          }
          return Reply(404, "Not Found");
        }) {
    env_ = {"QUARRIN_ROOT=" + root_.path(), "QUARRIN_LIVE_FACTS=0", "NOTIFY_SOCKET="};
    const std::string deployment = "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment";
    Ctl({"reg", "set", deployment, "ManifestURL", "REG_SZ",
         site_.Url("/Downloads/QuarrinSrvc.xml")});
    Ctl({"reg", "set", deployment, "DefaultDownloadURL", "REG_SZ", site_.Url("/Downloads")});
    Ctl({"reg", "set", deployment, "HTTPPort", "REG_SZ", std::to_string(port_)});
    // Without the live view the details collected at start-up need this.
    Ctl({"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "InstallDate",
         "REG_DWORD", "0"});
  }

  ~SelfUpdateTest() override {
    // Never leave a service process behind.
    for (const char* name : {"TARNQuarrinSrvc", "TARNStartSrvc"}) {
      RunCommand({BuiltExecutable("quarrinctl"), "sc", "stop", name}, env_);
      WaitFor([&] { return State(name) == "STOPPED\n"; }, 10s);
    }
  }

  void Ctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BuiltExecutable("quarrinctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult r = RunCommand(argv, env_);
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }

  std::string State(const std::string& service) {
    return RunCommand({BuiltExecutable("quarrinctl"), "sc", "query", service}, env_).out;
  }

  void Install(const std::string& built, const std::string& image) {
    PlaceExecutable(built, image, 0755);
    CommandResult r = RunCommand({image, "-INSTALL", "-SILENT"}, env_);
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }

  // The version on the agent's menu page; empty while it does not answer.
  std::string AnsweringVersion() {
    testing::RawResponse page =
        testing::RawExchange(port_, testing::SimpleRequest("GET / HTTP/1.1"), 5s);
    const std::string marker = "<b>Version: </b>";
    size_t at = page.body.find(marker);
    if (page.status != 200 || at == std::string::npos) return "";
    at += marker.size();
    return page.body.substr(at, page.body.find('<', at) - at);
  }

  // Installs the agent and the starter and starts the agent.
  void InstallAndStart(const std::string& image) {
    Install(CurrentAgent(), image);
    Install(BuiltExecutable("TARNStartSrvc"), folder_ + "/TARNStartSrvc");
    Ctl({"sc", "start", "TARNQuarrinSrvc"});
  }

  // The reply to GET /update.
  testing::RawResponse RequestUpdate() {
    return testing::RawExchange(port_, testing::SimpleRequest("GET /update HTTP/1.1"), 30s);
  }

  void Publish(const std::string& signature) {
    std::lock_guard lock(mu_);
    signature_ = signature;
  }

  testing::TempDir root_;
  const std::string folder_;
  const uint16_t port_;
  const std::string next_bytes_;
  std::mutex mu_;
  std::string signature_;  // of the download; empty: none published
  testing::HttpTestServer site_;
  std::vector<std::string> env_;
};

TEST_F(SelfUpdateTest, UpdateFetchesTheNextBuildAndTheAgentComesBackAsIt) {
  const std::string image = folder_ + "/QuarrinSrvc";
  Install(CurrentAgent(), image);
  Install(BuiltExecutable("TARNStartSrvc"), folder_ + "/TARNStartSrvc");
  Ctl({"sc", "start", "TARNQuarrinSrvc"});
  const std::string current = GetFileVersion(CurrentAgent()).Text;
  const std::string next = GetFileVersion(NextAgent()).Text;
  ASSERT_TRUE(WaitFor([&] { return AnsweringVersion() == current; }, 15s));

  // The reply to the request that starts the update still arrives.
  testing::RawResponse update =
      testing::RawExchange(port_, testing::SimpleRequest("GET /update HTTP/1.1"), 30s);
  EXPECT_EQ(update.status, 200);
  EXPECT_EQ(update.body.rfind("<?xml version=\"1.0\" ?><Quarrin><RC>1</RC><UpdateVersion>" +
                                  next + "</UpdateVersion><CurrentVersion>" + current +
                                  "</CurrentVersion>",
                              0),
            0u)
      << update.body;

  ASSERT_TRUE(WaitFor([&] { return AnsweringVersion() == next; }, 30s))
      << State("TARNQuarrinSrvc") << State("TARNStartSrvc");
  EXPECT_EQ(ReadFileText(image), next_bytes_);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/~QuarrinSrvc"));
  EXPECT_TRUE(WaitFor([&] { return State("TARNStartSrvc") == "STOPPED\n"; }, 10s));

  // The old agent's account of it, in order: the check, the download, then
  // completed, stopping and starting.
  testing::ScopedEnv root("QUARRIN_ROOT", root_.path());
  std::vector<uint32_t> ids;
  for (const auto& e : OpenEventLog(EventLogDbPath())->Read("TARNQuarrinSrvc")) {
    if (e.id >= 100 && e.id < 200 && e.id != kUnverifiedUpdateEvent) ids.push_back(e.id);
  }
  ids.resize(std::min<size_t>(ids.size(), 5));
  EXPECT_EQ(ids, (std::vector<uint32_t>{100, 102, 103, 103, 103}));
}

// With an update public key in the Deployment key, only a download signed
// by it is installed; anything else leaves the agent running as it was.
TEST_F(SelfUpdateTest, OnlyAnUpdateSignedWithTheTrustedKeyIsInstalled) {
  testing::TempDir keys;
  testing::MinisignKeyPair trusted(keys.path(), "trusted");
  testing::MinisignKeyPair other(keys.path(), "other");
  const std::string next_file = keys / "QuarrinSrvc";
  testing::WriteFileText(next_file, next_bytes_);
  testing::WriteFileText(keys / "current", ReadFileText(CurrentAgent()));
  Ctl({"reg", "set", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", "UpdatePublicKey",
       "REG_SZ", trusted.public_key_line()});
  const std::string image = folder_ + "/QuarrinSrvc";
  InstallAndStart(image);
  const std::string current = GetFileVersion(CurrentAgent()).Text;
  const std::string next = GetFileVersion(NextAgent()).Text;
  ASSERT_TRUE(WaitFor([&] { return AnsweringVersion() == current; }, 15s));

  struct {
    const char* name;
    std::string signature;
  } refused[] = {
      {"unsigned", ""},
      {"signed by another key", other.Sign(next_file, keys / "other.minisig")},
      {"signature of another file", trusted.Sign(keys / "current", keys / "current.minisig")},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    Publish(c.signature);
    testing::RawResponse update = RequestUpdate();
    EXPECT_EQ(update.status, 200);
    EXPECT_EQ(update.body.rfind("<?xml version=\"1.0\" ?><Quarrin><RC>1</RC>", 0), 0u)
        << update.body;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(AnsweringVersion(), current);
    EXPECT_EQ(ReadFileText(image), ReadFileText(CurrentAgent()));
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/~QuarrinSrvc"));
  }

  Publish(trusted.Sign(next_file, keys / "good.minisig"));
  EXPECT_EQ(RequestUpdate().status, 200);
  ASSERT_TRUE(WaitFor([&] { return AnsweringVersion() == next; }, 30s))
      << State("TARNQuarrinSrvc") << State("TARNStartSrvc");
  EXPECT_EQ(ReadFileText(image), next_bytes_);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/~QuarrinSrvc.minisig"));

  // Each refusal said why, in the event log and to syslog.
  testing::ScopedEnv root("QUARRIN_ROOT", root_.path());
  std::vector<std::string> refusals;
  for (const auto& e : OpenEventLog(EventLogDbPath())->Read("TARNQuarrinSrvc")) {
    if (e.id == 999) refusals.push_back(e.text);
  }
  ASSERT_EQ(refusals.size(), 3u);
  EXPECT_EQ(refusals[0].rfind("E.Message2=No signature of the download: ", 0), 0u) << refusals[0];
  EXPECT_EQ(refusals[1].rfind("E.Message2=The file is signed with key ", 0), 0u) << refusals[1];
  EXPECT_EQ(refusals[2].rfind("E.Message2=The signature does not match the file", 0), 0u)
      << refusals[2];
}

}  // namespace
}  // namespace quarrin
