#include "update/update_check.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <map>
#include <mutex>
#include <thread>

#include "core/agent_metrics.h"
#include "core/registry.h"
#include "diag/syslog.h"
#include "platform/time/clock.h"
#include "platform/eventlog/event_log.h"
#include "platform/files/paths.h"
#include "platform/registry/registry_store.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"
#include "tests/tls_testing.h"
#include "tests/udp_collector.h"
#include "update/handover.h"
#include "update/signing_testing.h"
#include "update/update_signature.h"
#include "update/update_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::HttpTestServer;
using testing::ReadFileText;
using testing::RecordedRequest;
using testing::Reply;
using testing::TempDir;
using testing::TestReply;
using testing::UdpCollector;

// "1.2.3.4" as a version record.
tFileVersion Version(const std::string& text) {
  tFileVersion v;
  v.Text = text;
  int32_t* parts[] = {&v.Major, &v.Minor, &v.Release, &v.Build};
  size_t start = 0;
  for (int32_t* part : parts) {
    size_t dot = text.find('.', start);
    *part = std::stoi(text.substr(start, dot - start));
    start = dot + 1;
  }
  return v;
}

std::string Manifest(const std::string& version) { return testing::ManifestFor(Version(version)); }

// The part of a datagram after its PRI and time stamp.
std::string MessageOf(const std::string& datagram) {
  size_t at = datagram.find("%QUARN-");
  return at == std::string::npos ? datagram : datagram.substr(at);
}

// Stamped 1.2.3.4: the published update in these tests, run as 1.2.3.3.
const std::string& FixtureBytes() {
  static const std::string bytes = ReadFileText(BuiltExecutable("stamped_fixture"));
  return bytes;
}

constexpr char kManifestPath[] = "/Downloads/QuarrinSrvc.xml";
constexpr char kDownloadPath[] = "/Downloads/QuarrinSrvc";

// An update site on loopback, a program folder, and the real registry,
// event log and built-in service manager below a temporary QUARRIN_ROOT.
class UpdateCheckTest : public ::testing::Test {
 protected:
  UpdateCheckTest()
      : root_env_("QUARRIN_ROOT", root_.path()),
        store_(OpenSqliteRegistryStore(root_ / "registry.db")),
        log_(OpenEventLog(root_ / "eventlog.db")),
        manager_(MakeBuiltinServiceManager(*store_)),
        events_(*log_, "TARNQuarrinSrvc"),
        syslog_("127.0.0.1", collector_.port(), SystemClock(), RegionalSettings{}, events_) {
    std::filesystem::create_directories(folder_);
    Serve(kManifestPath, Reply(200, Manifest("1.2.3.4"), "text/xml"));
    Serve(kDownloadPath, Reply(200, FixtureBytes(), "application/octet-stream"));
    context_.http = &CurlHttpClient();
    context_.registry = store_.get();
    context_.service_manager = manager_.get();
    context_.events = &events_;
    context_.syslog = &syslog_;
    context_.buffer = &buffer_;
    context_.metrics = &metrics_;
    context_.exe_path = folder_ + "/QuarrinSrvc";
    context_.current = Version("1.2.3.3");
    context_.download_url = site_.Url("/Downloads");
    context_.limits.connect_timeout = 1s;
    context_.limits.read_timeout = 1s;
    context_.limits.total_timeout = 4s;
  }

  void Serve(const std::string& path, TestReply reply) {
    std::lock_guard lock(mu_);
    replies_[path] = std::move(reply);
  }

  UpdateOutcome Check(tFileUpdate* update) { return CheckForUpdate(context_, update); }

  // Everything sent to the collector so far.
  std::vector<std::string> Syslogs() {
    std::vector<std::string> out;
    while (auto d = collector_.Receive(300ms)) out.push_back(MessageOf(*d));
    return out;
  }
  // "id type text" of every entry since the previous call, less the
  // warning that updates are not verified (UnsignedUpdatesAreAnnounced).
  std::vector<std::string> Events() {
    std::vector<std::string> out;
    for (const auto& e : log_->Read()) {
      if (e.sequence <= last_event_) continue;
      last_event_ = e.sequence;
      if (e.id == kUnverifiedUpdateEvent) continue;
      out.push_back(std::to_string(e.id) + " " + std::to_string(static_cast<int>(e.type)) + " " +
                    e.text);
    }
    return out;
  }
  std::vector<std::string> DownloadRequests() {
    std::vector<std::string> out;
    for (const auto& r : site_.Requests()) {
      if (r.path != kManifestPath) out.push_back(r.target);
    }
    return out;
  }

  void InstallService(const std::string& name, const std::string& image_path) {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    ASSERT_TRUE(reg.OpenKey("\\System\\CurrentControlSet\\Services\\" + name, true));
    reg.WriteExpandString("ImagePath", image_path);
  }
  std::string StarterValue(const std::string& name) {
    auto v = store_->GetValue(RootKey::kLocalMachine,
                              "System\\CurrentControlSet\\Services\\TARNStartSrvc", name);
    return v ? v->data.substr(0, v->data.find('\0')) : "<missing>";
  }

  std::string DownloadFile() const { return folder_ + "/~QuarrinSrvc"; }

  TempDir root_;
  testing::ScopedEnv root_env_;
  std::unique_ptr<RegistryStore> store_;
  std::unique_ptr<EventLog> log_;
  std::unique_ptr<ServiceManager> manager_;
  EventWriter events_;
  UdpCollector collector_;
  Syslog syslog_;
  DownloadBuffer buffer_;
  AgentMetrics metrics_{SystemClock()};
  const std::string folder_ = root_.path() + "/opt/TARN";
  std::mutex mu_;
  std::map<std::string, TestReply> replies_;
  HttpTestServer site_{[this](const RecordedRequest& r) {
    std::lock_guard lock(mu_);
    auto it = replies_.find(r.path);
    return it == replies_.end() ? Reply(404, "not here") : it->second;
  }};
  UpdateContext context_;
  int64_t last_event_ = 0;
};

const char kEvent100Prefix[] =
    "100 0 1.2.3.3 Check for update of QuarrinSrvc (TARNQuarrinSrvc):\r\n";

TEST_F(UpdateCheckTest, NothingNewerPublishedDownloadsNothing) {
  struct {
    const char* name;
    TestReply manifest;
    const char* published;  // null: the manifest's error
  } cases[] = {
      {"equal version", Reply(200, Manifest("1.2.3.3"), "text/xml"), "1.2.3.3"},
      {"older version", Reply(200, Manifest("1.2.2.9"), "text/xml"), "1.2.2.9"},
      {"manifest missing", Reply(404, "not here"), nullptr},
      // 2.0.0.1 would be newer, but a comment beside the text makes the
      // element unreadable.
      {"comment in major",
       Reply(200, "<data><VersionInfo><major>2<!--x--></major><minor>0</minor><release>0"
                  "</release><build>1</build></VersionInfo></data>", "text/xml"),
       nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(kManifestPath, c.manifest);
    tFileUpdate update;
    update.UpdateAvailable = true;
    EXPECT_EQ(Check(&update), UpdateOutcome::kNoUpdate);
    EXPECT_FALSE(update.UpdateAvailable);
    if (c.published == nullptr) {
      EXPECT_EQ(update.Text.rfind("Error: ", 0), 0u) << update.Text;
    } else {
      EXPECT_EQ(update.Text, c.published);
    }
    // An unreadable manifest keeps the version seen before (the older one).
    EXPECT_EQ(metrics_.update_check().published_version, c.published ? c.published : "1.2.2.9");
    EXPECT_FALSE(metrics_.update_check().pending);
    EXPECT_EQ(Syslogs(), std::vector<std::string>{"%QUARN-5-50090: Check for update. Current "
                                                  "version: 1.2.3.3 Update version: " +
                                                  update.Text + " Not required"});
    EXPECT_EQ(Events(), std::vector<std::string>{kEvent100Prefix + std::string("Current version:") +
                                                 "1.2.3.3\r\nUpdated version:" + update.Text +
                                                 " \r\nNo update required."});
    EXPECT_TRUE(DownloadRequests().empty());
    EXPECT_FALSE(std::filesystem::exists(DownloadFile()));
  }
}

// The target service runs as a child of the test whose status record the
// built-in manager reads; a stop request reaches it as SIGTERM.
class RunningTarget {
 public:
  RunningTarget() {
    pid_ = fork();
    if (pid_ == 0) {
      execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    MakeDirs(StateDir() + "/services");
    std::ofstream(StateDir() + "/services/TARNQuarrinSrvc.status")
        << "state=RUNNING\npid=" << pid_ << "\naccepted=7\n";
  }
  ~RunningTarget() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The signal that ended it within `limit`, or 0 when it still runs.
  int EndedBy(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return 0;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

TEST_F(UpdateCheckTest, GoodDownloadIsHandedOverToTheStarter) {
  // Through a redirect that sets a cookie the download needs.
  Serve(kDownloadPath,
        TestReply{302,
                  "",
                  "text/plain",
                  {{"Location", "/files/QuarrinSrvc"}, {"Set-Cookie", "site=1; Path=/"}}});
  site_.SetHandler([this](const RecordedRequest& r) {
    std::lock_guard lock(mu_);
    if (r.path == "/files/QuarrinSrvc") {
      return r.Header("Cookie") == "site=1" ? Reply(200, FixtureBytes()) : Reply(403, "no");
    }
    auto it = replies_.find(r.path);
    return it == replies_.end() ? Reply(404, "not here") : it->second;
  });
  const std::string marker = root_ / "starter-ran";
  struct {
    const char* name;
    bool starter_installed;
  } cases[] = {{"starter installed", true}, {"starter missing", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InstallService("TARNQuarrinSrvc", context_.exe_path);
    if (c.starter_installed) {
      std::string script = root_ / "starter.sh";
      testing::WriteFileText(script, "#!/bin/sh\necho \"$QUARRIN_SCM\" > '" + marker + "'\n");
      chmod(script.c_str(), 0755);
      InstallService("TARNStartSrvc", script);
    }
    RunningTarget target;

    tFileUpdate update;
    ASSERT_EQ(Check(&update), UpdateOutcome::kHandedOver);
    EXPECT_TRUE(update.UpdateAvailable);
    EXPECT_EQ(update.Text, "1.2.3.4");

    EXPECT_EQ(Syslogs(), (std::vector<std::string>{
                             "%QUARN-5-50090: Check for update. Current version: 1.2.3.3 Update "
                             "version: 1.2.3.4 Is available",
                             "%QUARN-5-50100: ~QuarrinSrvc download initiated.",
                             "%QUARN-5-50101: ~QuarrinSrvc download completed.",
                             "%QUARN-5-50110: Restarting Service",
                         }));
    EXPECT_EQ(Events(),
              (std::vector<std::string>{
                  kEvent100Prefix + std::string("Current version:1.2.3.3\r\nUpdated "
                                                "version:1.2.3.4 \r\nUpdate required."),
                  "102 0 1.2.3.3 " + site_.Url("/Downloads/QuarrinSrvc") + " download initiated.",
                  "103 0 1.2.3.3 QUARRINSRVC Download completed.",
                  "103 0 1.2.3.3 QUARRINSRVC Stopping - TARNQuarrinSrvc",
                  "103 0 1.2.3.3 QUARRINSRVC Starting - TARNStartSrvc",
              }));

    // The file beside the executable, whole and executable.
    EXPECT_EQ(ReadFileText(DownloadFile()), FixtureBytes());
    struct stat st;
    ASSERT_EQ(stat(DownloadFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(buffer_.size(), 0u);

    // The request as the download site is promised it.
    std::vector<RecordedRequest> requests = site_.Requests();
    const RecordedRequest& get = requests[requests.size() - 2];
    EXPECT_EQ(get.target, kDownloadPath);
    EXPECT_EQ(get.Header("User-Agent"), "Mozilla/4.0");
    EXPECT_EQ(get.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(get.Header("Cache-Control"), "no-cache");
    EXPECT_EQ(get.Header("Content-Type"), "text/html");
    EXPECT_EQ(get.Header("Accept"), "text/html, */*");

    // The agent was asked to stop; the starter to start, with the values
    // only where its key exists.
    EXPECT_EQ(target.EndedBy(5s), SIGTERM);
    if (c.starter_installed) {
      EXPECT_EQ(StarterValue("ServiceUpdate"), folder_ + "/~QuarrinSrvc");
      EXPECT_EQ(StarterValue("TargetService"), "TARNQuarrinSrvc");
      auto end = std::chrono::steady_clock::now() + 5s;
      while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
      }
      EXPECT_EQ(ReadFileText(marker), "TARNStartSrvc\n");
      Registry(*store_).DeleteKey("\\System\\CurrentControlSet\\Services\\TARNStartSrvc");
    } else {
      EXPECT_FALSE(store_->KeyExists(RootKey::kLocalMachine,
                                     "System\\CurrentControlSet\\Services\\TARNStartSrvc"));
    }
  }
}

// The events of a check whose download of `url` failed with `failure`.
std::vector<std::string> FailedDownloadEvents(const std::string& url, const std::string& failure) {
  return {
      kEvent100Prefix +
          std::string("Current version:1.2.3.3\r\nUpdated version:1.2.3.4 \r\nUpdate required."),
      "102 0 1.2.3.3 " + url + " download initiated.", failure,
      "104 2 1.2.3.3 QUARRINSRVC Download failed.\r\n"};
}

TEST_F(UpdateCheckTest, FailedDownloadsEndWithTheirMessagesAndTheAgentKeepsRunning) {
  InstallService("TARNStartSrvc", "/bin/false");
  const std::string fixture = FixtureBytes();
  const std::string self = site_.Url(kDownloadPath);
  struct Case {
    const char* name;
    TestReply reply;
    std::string failure_event;  // the 999 entry, or its beginning
    std::string status_syslog;  // the 10020 message, when there is one
    enum { kBody, kEmpty, kDeleted } file;
  } cases[] = {
      {"not found", Reply(404, "not here"), "999 1 Response Code=404\r\n",
       "%QUARN-1-10020: iResponseCode=404", Case::kBody},
      {"server error", Reply(500, "oops"), "999 1 Response Code=500\r\n",
       "%QUARN-1-10020: iResponseCode=500", Case::kBody},
      {"proxy page with 200", Reply(200, "<html><body>Access denied</body></html>", "text/html"),
       "999 1 E.Message2=The downloaded ~QuarrinSrvc is not an executable for this machine", "",
       Case::kDeleted},
      {"empty body with 200", Reply(200, ""),
       "999 1 E.Message2=The downloaded ~QuarrinSrvc is not an executable for this machine", "",
       Case::kDeleted},
      {"cut-off executable with 200", Reply(200, fixture.substr(0, fixture.size() / 2)),
       "999 1 E.Message2=The downloaded ~QuarrinSrvc has version 0.0.0.0, not the published "
       "1.2.3.4",
       "", Case::kDeleted},
      {"redirect loop", TestReply{302, "", "text/plain", {{"Location", kDownloadPath}}},
       "999 1 E.Message2=Maximum (15) redirects followed", "", Case::kEmpty},
      {"closed mid-transfer",
       TestReply{200,
                 std::string(200000, 'x'),
                 "application/octet-stream",
                 {},
                 0ms,
                 TestReply::Mode::kCloseMidTransfer},
       "999 1 E.Message2=", "", Case::kEmpty},
      {"endless body", TestReply{200, "x", "text/plain", {}, 0ms, TestReply::Mode::kEndless},
       "999 1 E.Message2=Response body of " + self + " is larger than 1048576 bytes", "",
       Case::kEmpty},
      {"slow answer", TestReply{200, fixture, "text/plain", {}, 3s}, "999 1 E.Message2=", "",
       Case::kEmpty},
  };
  context_.limits.max_body_bytes = 1 << 20;
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(kDownloadPath, c.reply);
    tFileUpdate update;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Check(&update), UpdateOutcome::kDownloadFailed);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, context_.limits.total_timeout + 1s);
    EXPECT_TRUE(update.UpdateAvailable);

    std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 4u) << ::testing::PrintToString(events);
    std::vector<std::string> expected = FailedDownloadEvents(self, c.failure_event);
    EXPECT_EQ(events[0], expected[0]);
    EXPECT_EQ(events[1], expected[1]);
    EXPECT_EQ(events[2].rfind(c.failure_event, 0), 0u) << events[2];
    EXPECT_GT(events[2].size(), std::string("999 1 E.Message2=").size());
    EXPECT_EQ(events[3], expected[3]);

    std::vector<std::string> syslogs = {
        "%QUARN-5-50090: Check for update. Current version: 1.2.3.3 Update version: 1.2.3.4 Is "
        "available",
        "%QUARN-5-50100: ~QuarrinSrvc download initiated."};
    if (!c.status_syslog.empty()) syslogs.push_back(c.status_syslog);
    syslogs.push_back("%QUARN-5-50101: ~QuarrinSrvc download completed.");
    EXPECT_EQ(Syslogs(), syslogs);

    switch (c.file) {
      case Case::kBody:
        EXPECT_EQ(ReadFileText(DownloadFile()), c.reply.body);
        break;
      case Case::kEmpty:
        EXPECT_EQ(ReadFileText(DownloadFile()), "");
        break;
      case Case::kDeleted:
        EXPECT_FALSE(std::filesystem::exists(DownloadFile()));
        break;
    }
    EXPECT_EQ(StarterValue("ServiceUpdate"), "<missing>");
    EXPECT_EQ(buffer_.size(), 0u);
  }
}

TEST_F(UpdateCheckTest, UnsignedUpdatesAreAnnounced) {
  for (const char* published : {"1.2.3.3", "1.2.3.4"}) {
    Serve(kManifestPath, Reply(200, Manifest(published), "text/xml"));
    tFileUpdate update;
    Check(&update);
  }
  std::vector<std::string> warnings;
  for (const auto& e : log_->Read()) {
    if (e.id == kUnverifiedUpdateEvent) {
      EXPECT_EQ(e.type, EventType::kWarning);
      warnings.push_back(e.text);
    }
  }
  EXPECT_EQ(warnings,
            std::vector<std::string>(2, "1.2.3.3 Updates are not verified: no update public key is "
                                        "configured (UpdatePublicKey)"));
}

TEST_F(UpdateCheckTest, SignedDownloadIsWrittenOnlyWithItsGoodSignature) {
  TempDir keys;
  testing::MinisignKeyPair trusted(keys.path(), "trusted");
  testing::MinisignKeyPair other(keys.path(), "other");
  const std::string file = keys / "QuarrinSrvc";
  testing::WriteFileText(file, FixtureBytes());
  testing::WriteFileText(keys / "other-file", "another file");
  const std::string good = trusted.Sign(file, keys / "good.minisig");
  const std::string by_other = other.Sign(file, keys / "other.minisig");
  const std::string of_other_file = trusted.Sign(keys / "other-file", keys / "file.minisig");
  const std::string signature_url = site_.Url(kDownloadPath) + ".minisig";
  const std::string signature_path = std::string(kDownloadPath) + ".minisig";
  context_.update_public_key = trusted.public_key_line();

  struct {
    const char* name;
    TestReply signature;
    std::string key;  // empty: the trusted one
    std::string why;
  } refusals[] = {
      {"no signature", Reply(404, "not here"), "",
       "No signature of the download: " + signature_url + " answered status 404"},
      {"another key's", Reply(200, by_other), "",
       "The file is signed with key " + ParseUpdatePublicKey(other.public_key_line()).IdText() +
           ", not with the trusted key " + ParseUpdatePublicKey(trusted.public_key_line()).IdText()},
      {"another file's", Reply(200, of_other_file), "",
       "The signature does not match the file: the file was changed or the signature is for "
       "another file"},
      {"garbage", Reply(200, std::string(20000, 'x')), "",
       "No signature of the download: " + signature_url + ": Response body of " + signature_url +
           " is larger than 16384 bytes"},
      {"key configured wrongly", Reply(200, good), "RWQ-not-a-key",
       "The update public key is not a minisign public key line (base64 of 42 bytes, as on the "
       "second line of a minisign .pub file)"},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.name);
    Serve(signature_path, c.signature);
    context_.update_public_key = c.key.empty() ? trusted.public_key_line() : c.key;
    tFileUpdate update;
    EXPECT_EQ(Check(&update), UpdateOutcome::kDownloadFailed);
    EXPECT_TRUE(update.UpdateAvailable);
    EXPECT_EQ(Events(), FailedDownloadEvents(site_.Url(kDownloadPath), "999 1 E.Message2=" + c.why));
    std::vector<std::string> syslogs = Syslogs();
    ASSERT_EQ(syslogs.size(), 4u);
    EXPECT_EQ(syslogs[2], "%QUARN-1-10030: Update refused: " + c.why);
    EXPECT_TRUE(metrics_.update_check().refused);
    EXPECT_TRUE(metrics_.update_check().pending);
    EXPECT_EQ(metrics_.update_check().published_version, "1.2.3.4");
    EXPECT_FALSE(std::filesystem::exists(DownloadFile()));
    EXPECT_FALSE(std::filesystem::exists(DownloadFile() + ".minisig"));
    EXPECT_EQ(StarterValue("ServiceUpdate"), "<missing>");
  }

  // Signed by the trusted key: written with its signature beside it, and
  // handed over.
  InstallService("TARNStartSrvc", "/bin/true");
  context_.update_public_key = trusted.public_key_line();
  Serve(signature_path, Reply(200, good));
  tFileUpdate update;
  EXPECT_EQ(Check(&update), UpdateOutcome::kHandedOver);
  EXPECT_EQ(ReadFileText(DownloadFile()), FixtureBytes());
  EXPECT_EQ(ReadFileText(DownloadFile() + ".minisig"), good);
  EXPECT_EQ(StarterValue("ServiceUpdate"), DownloadFile());
  for (const auto& e : log_->Read()) EXPECT_NE(e.id, kUnverifiedUpdateEvent) << e.text;
  EXPECT_FALSE(metrics_.update_check().refused);
}

// The manifest and the download over HTTPS: the site's certificate is
// checked against the machine's store (here the one below QUARRIN_ROOT).
TEST_F(UpdateCheckTest, HttpsSitesAreCheckedAgainstTheCertificateStore) {
  TempDir dir;
  testing::TestCertificates certs(dir.path());
  std::filesystem::create_directories(root_ / "etc/ssl/certs");
  std::filesystem::copy_file(certs.ca_file(), root_ / "etc/ssl/certs/ca-certificates.crt");
  auto site = [this](const RecordedRequest& r) {
    std::lock_guard lock(mu_);
    auto it = replies_.find(r.path);
    return it == replies_.end() ? Reply(404, "not here") : it->second;
  };
  HttpTestServer trusted(site, {ReadFileText(certs.server_certificate()),
                                ReadFileText(certs.server_key())});
  HttpTestServer untrusted(site, {ReadFileText(certs.untrusted_certificate()),
                                  ReadFileText(certs.untrusted_key())});

  context_.download_url = untrusted.Url("/Downloads");
  tFileUpdate refused;
  EXPECT_EQ(Check(&refused), UpdateOutcome::kNoUpdate);
  EXPECT_EQ(refused.Text.rfind("Error: ", 0), 0u) << refused.Text;
  EXPECT_NE(refused.Text.find("certificate"), std::string::npos) << refused.Text;
  EXPECT_EQ(untrusted.RequestCount(), 0u);

  context_.download_url = trusted.Url("/Downloads");
  tFileUpdate update;
  EXPECT_EQ(Check(&update), UpdateOutcome::kHandedOver);
  EXPECT_EQ(update.Text, "1.2.3.4");
  EXPECT_EQ(ReadFileText(DownloadFile()), FixtureBytes());
  EXPECT_EQ(trusted.RequestCount(), 2u);
}

TEST_F(UpdateCheckTest, DownloadOfAnotherVersionIsRefused) {
  Serve(kManifestPath, Reply(200, Manifest("1.2.3.5"), "text/xml"));
  tFileUpdate update;
  EXPECT_EQ(Check(&update), UpdateOutcome::kDownloadFailed);
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2],
            "999 1 E.Message2=The downloaded ~QuarrinSrvc has version 1.2.3.4, not the published "
            "1.2.3.5");
  EXPECT_FALSE(std::filesystem::exists(DownloadFile()));
}

TEST_F(UpdateCheckTest, PackageManagedAgentSaysSoAndDownloadsNothing) {
  testing::WriteFileText(folder_ + "/package-manager", "quarrin-agent (dpkg)\n");
  tFileUpdate update;
  EXPECT_EQ(Check(&update), UpdateOutcome::kManagedByPackage);
  EXPECT_TRUE(update.UpdateAvailable);
  EXPECT_EQ(update.Text, "1.2.3.4");
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], "104 2 1.2.3.3 QUARRINSRVC Self-update is off: " + folder_ +
                           "/QuarrinSrvc is managed by the package quarrin-agent (dpkg). Upgrade "
                           "the package to get version 1.2.3.4.");
  EXPECT_TRUE(DownloadRequests().empty());
  EXPECT_FALSE(std::filesystem::exists(DownloadFile()));
}

TEST_F(UpdateCheckTest, AStopAbandonsATricklingDownloadAndRemovesWhatItHad) {
  TestReply trickle = Reply(200, FixtureBytes(), "application/octet-stream");
  trickle.mode = TestReply::Mode::kTrickle;
  Serve(kDownloadPath, trickle);
  context_.limits.read_timeout = 0s;  // the trickle never stalls
  context_.limits.total_timeout = 60s;
  CancelFlag stop;
  CancellingHttpClient http(CurlHttpClient(), stop);
  context_.http = &http;
  std::thread stopper([&] {
    while (DownloadRequests().empty()) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);
    stop.Set();
  });
  tFileUpdate update;
  EXPECT_EQ(Check(&update), UpdateOutcome::kDownloadFailed);
  stopper.join();
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 4u) << ::testing::PrintToString(events);
  EXPECT_NE(events[2].find("abandoned"), std::string::npos) << events[2];
  EXPECT_FALSE(std::filesystem::exists(DownloadFile()));
  EXPECT_EQ(buffer_.size(), 0u);
}

TEST_F(UpdateCheckTest, DownloadFileThatCannotBeCreatedStopsBeforeAnyRequest) {
  struct {
    const char* name;
    std::function<void()> arrange;
    std::string error;
  } cases[] = {
      {"a folder in its place", [&] { std::filesystem::create_directories(DownloadFile()); },
       "Cannot create file \"" + DownloadFile() + "\". Is a directory"},
      {"program folder gone", [&] { std::filesystem::remove_all(folder_); },
       "Cannot create file \"" + DownloadFile() + "\". No such file or directory"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    tFileUpdate update;
    EXPECT_EQ(Check(&update), UpdateOutcome::kDownloadFailed);
    EXPECT_EQ(Events(),
              FailedDownloadEvents(site_.Url(kDownloadPath), "999 1 E.Message1=" + c.error));
    EXPECT_EQ(Syslogs(), (std::vector<std::string>{
                             "%QUARN-5-50090: Check for update. Current version: 1.2.3.3 Update "
                             "version: 1.2.3.4 Is available",
                             "%QUARN-5-50100: ~QuarrinSrvc download initiated.",
                             "%QUARN-1-10000: " + c.error,
                             "%QUARN-5-50101: ~QuarrinSrvc download completed.",
                         }));
    EXPECT_TRUE(DownloadRequests().empty());
  }
}

TEST_F(UpdateCheckTest, DownloadUrlEndingInASlashIsJoinedWithAnotherOne) {
  context_.download_url = site_.Url("/Downloads/");
  Serve("/Downloads//QuarrinSrvc.xml", Reply(200, Manifest("1.2.3.4"), "text/xml"));
  Serve("/Downloads//QuarrinSrvc", Reply(404, "not here"));
  tFileUpdate update;
  Check(&update);
  std::vector<RecordedRequest> requests = site_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/Downloads//QuarrinSrvc.xml");
  EXPECT_EQ(requests[1].target, "/Downloads//QuarrinSrvc");
  EXPECT_EQ(Events()[1],
            "102 0 1.2.3.3 " + site_.Url("/Downloads//QuarrinSrvc") + " download initiated.");
}

TEST_F(UpdateCheckTest, ASecondCheckWhileOneDownloadsIsSkipped) {
  // The handler holds its own references: the site's threads may still be
  // leaving it when this test's body ends.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  auto arrived = std::make_shared<std::promise<void>>();
  std::future<void> arrival = arrived->get_future();
  auto downloads = std::make_shared<std::atomic<int>>(0);
  site_.SetHandler([released, arrived, downloads](const RecordedRequest& r) {
    if (r.path == kManifestPath) return Reply(200, Manifest("1.2.3.4"), "text/xml");
    if ((*downloads)++ == 0) arrived->set_value();
    released.wait();
    return Reply(404, "not here");
  });
  tFileUpdate first;
  std::thread running([&] { Check(&first); });
  arrival.wait();

  tFileUpdate second;
  second.UpdateAvailable = true;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Check(&second), UpdateOutcome::kBusy);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_FALSE(second.UpdateAvailable);
  EXPECT_EQ(second.Text, "Error: An update check is already running");
  release.set_value();
  running.join();
  EXPECT_TRUE(first.UpdateAvailable);
  // Only the first check's messages: one 50090 and one 100.
  EXPECT_EQ(site_.RequestCount(), 2u);
  EXPECT_EQ(Events().size(), 4u);

  // The buffer is free again for the next one.
  tFileUpdate third;
  EXPECT_EQ(Check(&third), UpdateOutcome::kDownloadFailed);
}

// Memory a download adds to the process: the peak resident set while a
// body of `body_bytes` arrives, over the resident set before it. The site
// streams it without a copy of its own (an endless body, cut at the cap).
TEST_F(UpdateCheckTest, DownloadMemoryIsBoundedByTheBody) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer's shadow memory counts in the resident set";
#endif
  const size_t body_bytes = 16u << 20;
  Serve(kDownloadPath, TestReply{200,
                                 std::string(4096, 'x'),
                                 "application/octet-stream",
                                 {},
                                 0ms,
                                 TestReply::Mode::kEndless});
  context_.limits.max_body_bytes = body_bytes;
  auto status_kib = [](const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    }
    return -1L;
  };
  // Reset the peak to the current size (Linux 4.0 and later).
  std::ofstream("/proc/self/clear_refs") << "5";
  long before = status_kib("VmRSS:");
  tFileUpdate update;
  Check(&update);
  long peak = status_kib("VmHWM:");
  long added_kib = peak - before;
  std::printf("download of %zu MiB added at most %ld KiB to the resident set\n", body_bytes >> 20,
              added_kib);
  RecordProperty("download_peak_added_kib", std::to_string(added_kib));
  // The body once in the buffer plus, while it grows, about one copy (31 to
  // 40 MiB measured); an uncapped body would grow by gigabytes here.
  EXPECT_LT(added_kib, static_cast<long>(4 * body_bytes / 1024));
  EXPECT_EQ(buffer_.size(), 0u);
}

TEST(UpdateNamesTest, ManifestAndHandOverPaths) {
  struct {
    const char* exe_name;
    const char* manifest;
  } names[] = {
      {"QuarrinSrvc", "QuarrinSrvc.xml"},
      {"QuarrinSrvc.exe", "QuarrinSrvc.xml"},
      {"agent.v2.bin", "agent.v2.xml"},
  };
  for (const auto& n : names) EXPECT_EQ(ManifestFileName(n.exe_name), n.manifest) << n.exe_name;

  struct {
    const char* exe_path;
    const char* hand_over;
  } paths[] = {
      {"/opt/TARN/QuarrinSrvc", "/opt/TARN/~QuarrinSrvc"},
      // The first occurrence, even in the folder part.
      {"/opt/QuarrinSrvc/QuarrinSrvc", "/opt/~QuarrinSrvc/QuarrinSrvc"},
      {"/opt/QuarrinSrvcs/QuarrinSrvc", "/opt/~QuarrinSrvcs/QuarrinSrvc"},
      // Letter case counts.
      {"/opt/quarrinsrvc/QuarrinSrvc", "/opt/quarrinsrvc/~QuarrinSrvc"},
  };
  for (const auto& p : paths) EXPECT_EQ(HandOverPath(p.exe_path), p.hand_over) << p.exe_path;
  EXPECT_EQ(DownloadPathBeside("/opt/QuarrinSrvc/QuarrinSrvc"), "/opt/QuarrinSrvc/~QuarrinSrvc");
}

TEST(HandOverValuesTest, WrittenOnlyIntoAnExistingKeyAndOverwritten) {
  TempDir dir;
  auto store = OpenSqliteRegistryStore(dir / "registry.db");
  const char* key = "System\\CurrentControlSet\\Services\\TARNStartSrvc";
  EXPECT_FALSE(WriteHandOverValues(*store, "/a/~x", "T"));
  EXPECT_FALSE(store->KeyExists(RootKey::kLocalMachine, key));

  store->CreateKey(RootKey::kLocalMachine, key);
  EXPECT_TRUE(WriteHandOverValues(*store, "/a/~x", "T"));
  EXPECT_TRUE(WriteHandOverValues(*store, "/b/~y", "U"));
  auto names = store->ValueNames(RootKey::kLocalMachine, key);
  EXPECT_EQ(names, (std::vector<std::string>{"ServiceUpdate", "TargetService"}));
  auto value = [&](const char* name) {
    auto v = store->GetValue(RootKey::kLocalMachine, key, name);
    EXPECT_EQ(v->type, ValueType::kString);
    return v->data.substr(0, v->data.find('\0'));
  };
  EXPECT_EQ(value("ServiceUpdate"), "/b/~y");
  EXPECT_EQ(value("TargetService"), "U");
}

}  // namespace
}  // namespace quarrin
