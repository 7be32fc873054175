// The starter's installation run in-process against real agents: copies of
// the built QuarrinSrvc installed and started by the built-in service
// manager below a temporary QUARRIN_ROOT.
#include "update/starter_service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core/file_version.h"
#include "core/registry.h"
#include "platform/eventlog/event_log.h"
#include "platform/files/paths.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"
#include "update/handover.h"
#include "update/signing_testing.h"
#include "update/update_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::CurrentAgent;
using testing::NextAgent;
using testing::PlaceExecutable;
using testing::ReadFileText;
using testing::WaitFor;

constexpr char kTarget[] = "TARNQuarrinSrvc";

class StarterServiceTest : public ::testing::Test {
 protected:
  StarterServiceTest()
      : root_env_("QUARRIN_ROOT", root_.path()),
        notify_env_("NOTIFY_SOCKET", ""),
        live_facts_env_("QUARRIN_LIVE_FACTS", "0") {
    MakeDirs(StateDir());
    store_ = OpenSqliteRegistryStore(RegistryDbPath());
    log_ = OpenEventLog(EventLogDbPath());
    manager_ = MakeBuiltinServiceManager(*store_);
    SetDeployment("ManifestURL", nowhere_.Url("/downloads/QuarrinSrvc.xml"));
    SetDeployment("HTTPPort", std::to_string(testing::FreePort()));
    // Without the live view the details collected at start-up need this.
    Registry reg(*store_);
    reg.OpenKey("\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", true);
    reg.WriteInteger("InstallDate", 0);
    store_->CreateKey(RootKey::kLocalMachine, StarterKey().substr(1));
    timeouts_.stop_wait = 10s;
    timeouts_.running_wait = 10s;
  }

  ~StarterServiceTest() override {
    // Never leave an agent behind.
    try {
      manager_->Control(kTarget, kControlStop);
    } catch (const std::exception&) {
    }
    WaitFor([&] { return manager_->Query(kTarget) == ServiceState::kStopped; }, 10s);
  }

  void SetDeployment(const std::string& name, const std::string& value) {
    Registry reg(*store_);
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", true));
    reg.WriteString(name, value);
  }

  // Installs the built agent at `image` with its own installer and starts it.
  void InstallAndStartAgent(const std::string& image) {
    image_ = image;
    PlaceExecutable(CurrentAgent(), image, 0750);
    testing::CommandResult r = testing::RunCommand({image, "-INSTALL", "-SILENT"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    size_t started = StartUps();
    manager_->Start(kTarget);
    // Its start-up clears away a left-over download: hand over after it.
    ASSERT_TRUE(WaitFor([&] { return StartUps() > started; }, 10s));
  }

  // How many times an agent has finished its start-up.
  size_t StartUps() {
    size_t n = 0;
    for (const auto& e : OpenEventLog(EventLogDbPath())->Read(kTarget)) {
      n += e.id == 3 && e.text.ends_with(" Service executed");
    }
    return n;
  }

  bool Running() {
    return WaitFor([&] { return manager_->Query(kTarget) == ServiceState::kRunning; }, 10s);
  }

  // What the agent leaves behind at a hand-over: the download beside it, the
  // two values, and its own stop request.
  void HandOver(const std::string& download_from, const std::string& service_update = "") {
    if (!download_from.empty()) {
      PlaceExecutable(download_from, DownloadPathBeside(image_), 0755);
    }
    ASSERT_TRUE(WriteHandOverValues(
        *store_, service_update.empty() ? HandOverPath(image_) : service_update, kTarget));
    ASSERT_TRUE(RequestServiceStop(*manager_, *store_, kTarget));
  }

  StarterOutcome Install() {
    StarterService starter(*store_, *log_, *manager_, nullptr, timeouts_);
    return starter.InstallHandedOver();
  }

  // Arranges a hand-over that the starter must refuse, runs it in a fresh
  // event log named after the case, and checks that the agent runs again
  // unchanged. The starter's entries.
  std::vector<std::string> InstallRefused(const std::string& name,
                                          const std::function<void()>& arrange) {
    log_ = OpenEventLog(root_ / (name + ".db"));
    arrange();
    size_t started = StartUps();
    EXPECT_EQ(Install(), StarterOutcome::kStartedUnchanged);
    EXPECT_TRUE(WaitFor([&] { return StartUps() > started; }, 10s));
    EXPECT_EQ(ReadFileText(image_), ReadFileText(CurrentAgent()));
    return StarterLog();
  }

  // The starter's entries: "type text" without the leading version.
  std::vector<std::string> StarterLog() {
    std::vector<std::string> out;
    for (const auto& e : log_->Read("TARNStartSrvc")) {
      out.push_back(std::to_string(static_cast<int>(e.type)) + " " +
                    e.text.substr(e.text.find(' ') + 1));
    }
    return out;
  }

  mode_t Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  testing::TempDir root_;
  testing::ScopedEnv root_env_;
  testing::ScopedEnv notify_env_;
  testing::ScopedEnv live_facts_env_;
  testing::RefusingPort nowhere_;
  std::unique_ptr<RegistryStore> store_;
  std::unique_ptr<EventLog> log_;
  std::unique_ptr<ServiceManager> manager_;
  StarterTimeouts timeouts_;
  std::string image_;
};

TEST_F(StarterServiceTest, InstallsTheNewVersionWithThePermissionsOfTheOldAndStartsIt) {
  struct {
    const char* name;
    const char* folder;
  } cases[] = {
      {"plain folder", "/opt/TARN"},
      // ServiceUpdate then names /opt/~QuarrinSrvc/QuarrinSrvc.
      {"folder named like the executable", "/opt/QuarrinSrvc"},
  };
  const std::string next_version = GetFileVersion(NextAgent()).Text;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InstallAndStartAgent(root_.path() + c.folder + "/QuarrinSrvc");
    HandOver(NextAgent());

    EXPECT_EQ(Install(), StarterOutcome::kInstalled);
    EXPECT_EQ(manager_->Query(kTarget), ServiceState::kRunning);
    EXPECT_EQ(ReadFileText(image_), ReadFileText(NextAgent()));
    EXPECT_EQ(Mode(image_), 0750u);
    EXPECT_FALSE(std::filesystem::exists(DownloadPathBeside(image_)));
    EXPECT_FALSE(std::filesystem::exists(image_ + ".previous"));
    std::vector<std::string> log = StarterLog();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[0],
              "4 Hand-over: ServiceUpdate=" + HandOverPath(image_) + ", TargetService=" + kTarget);
    EXPECT_EQ(log[1], std::string("4 Waiting for ") + kTarget + " to stop");
    EXPECT_EQ(log[2].rfind("4 Installed " + image_ + " version " + next_version, 0), 0u) << log[2];
    EXPECT_EQ(log[3], std::string("4 Starting ") + kTarget);
    EXPECT_EQ(log.back(), std::string("4 ") + kTarget + " is running version " + next_version);

    manager_->Control(kTarget, kControlStop);
    ASSERT_TRUE(WaitFor([&] { return manager_->Query(kTarget) == ServiceState::kStopped; }, 10s));
    ASSERT_EQ(testing::RunCommand({image_, "-UNINSTALL", "-SILENT"}).exit_status, 0);
    log_ = OpenEventLog(root_ / (std::string(c.name) + ".db"));
  }
}

TEST_F(StarterServiceTest, ANewVersionThatDoesNotRunIsRolledBack) {
  InstallAndStartAgent(root_.path() + "/opt/TARN/QuarrinSrvc");
  // A whole executable of this machine with a version, that exits at once.
  HandOver(BuiltExecutable("stamped_fixture"));
  timeouts_.running_wait = 3s;

  EXPECT_EQ(Install(), StarterOutcome::kRolledBack);
  EXPECT_TRUE(Running());
  EXPECT_EQ(ReadFileText(image_), ReadFileText(CurrentAgent()));
  EXPECT_EQ(Mode(image_), 0750u);
  EXPECT_FALSE(std::filesystem::exists(image_ + ".previous"));
  std::vector<std::string> log = StarterLog();
  bool rolled_back = false;
  for (const auto& line : log)
    rolled_back |= line.rfind("2 TARNQuarrinSrvc did not report", 0) == 0;
  EXPECT_TRUE(rolled_back) << ::testing::PrintToString(log);
  EXPECT_EQ(log.back(), "4 TARNQuarrinSrvc is running the previous version " +
                            GetFileVersion(CurrentAgent()).Text + " again");
}

// Whatever is wrong with the hand-over, the agent's executable stays as it
// was and the agent runs again.
TEST_F(StarterServiceTest, AnUnfitHandOverStartsTheAgentUnchanged) {
  InstallAndStartAgent(root_.path() + "/opt/TARN/QuarrinSrvc");
  const std::string download = DownloadPathBeside(image_);
  const std::string elsewhere = root_.path() + "/elsewhere/~QuarrinSrvc";
  struct {
    const char* name;
    std::function<void()> arrange;
    std::string logged;  // the beginning of the entry that says why
  } cases[] = {
      {"no download", [&] { HandOver(""); }, "4 No downloaded file " + download},
      {"a proxy's page",
       [&] {
         HandOver("");
         testing::WriteFileText(download, "<html>Access denied</html>");
       },
       "1 " + download + " is not an executable for this machine; deleted"},
      {"another file named",
       [&] {
         PlaceExecutable(NextAgent(), elsewhere, 0755);
         HandOver(NextAgent(), elsewhere);
       },
       "1 ServiceUpdate " + elsewhere + " does not name the download of TARNQuarrinSrvc"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log = InstallRefused(c.name, c.arrange);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1].rfind(c.logged, 0), 0u) << log[1];
    EXPECT_EQ(log.back(), "4 Starting TARNQuarrinSrvc");
    std::filesystem::remove(download);
  }
  // The file named instead was not touched.
  EXPECT_EQ(ReadFileText(elsewhere), ReadFileText(NextAgent()));
}

// With an update public key, the download is checked again just before it
// is installed: the agent's check may lie a minute back.
TEST_F(StarterServiceTest, ASignedUpdateIsInstalledOnlyWithItsGoodSignature) {
  testing::TempDir keys;
  testing::MinisignKeyPair trusted(keys.path(), "trusted");
  testing::MinisignKeyPair other(keys.path(), "other");
  SetDeployment("UpdatePublicKey", trusted.public_key_line());
  InstallAndStartAgent(root_.path() + "/opt/TARN/QuarrinSrvc");
  const std::string download = DownloadPathBeside(image_);
  const std::string signature = download + ".minisig";
  struct {
    const char* name;
    std::function<void()> arrange;
    std::string logged;  // the beginning of the entry that says why
  } cases[] = {
      {"no signature", [&] { HandOver(NextAgent()); },
       "1 " + download + " has no signature " + signature + " (No such file or directory)"},
      {"another key's signature",
       [&] {
         HandOver(NextAgent());
         other.Sign(download, signature);
       },
       "1 " + download + " is refused: The file is signed with key "},
      {"changed after it was signed",
       [&] {
         HandOver(NextAgent());
         trusted.Sign(download, signature);
         std::ofstream(download, std::ios::app) << "x";
       },
       "1 " + download + " is refused: The signature does not match the file"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log = InstallRefused(c.name, c.arrange);
    EXPECT_FALSE(std::filesystem::exists(download));
    EXPECT_FALSE(std::filesystem::exists(signature));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2].rfind(c.logged, 0), 0u) << log[2];
  }

  log_ = OpenEventLog(root_ / "good.db");
  HandOver(NextAgent());
  trusted.Sign(download, signature);
  EXPECT_EQ(Install(), StarterOutcome::kInstalled);
  EXPECT_EQ(ReadFileText(image_), ReadFileText(NextAgent()));
  EXPECT_FALSE(std::filesystem::exists(signature));
}

TEST_F(StarterServiceTest, AnAgentThatDoesNotStopIsLeftRunningAsItWas) {
  InstallAndStartAgent(root_.path() + "/opt/TARN/QuarrinSrvc");
  PlaceExecutable(NextAgent(), DownloadPathBeside(image_), 0755);
  ASSERT_TRUE(WriteHandOverValues(*store_, HandOverPath(image_), kTarget));
  timeouts_.stop_wait = 1s;

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Install(), StarterOutcome::kAbandoned);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(manager_->Query(kTarget), ServiceState::kRunning);
  EXPECT_EQ(ReadFileText(image_), ReadFileText(CurrentAgent()));
  EXPECT_TRUE(std::filesystem::exists(DownloadPathBeside(image_)));
  EXPECT_EQ(StarterLog().back(), "1 TARNQuarrinSrvc did not stop within 1 s; nothing installed, " +
                                     DownloadPathBeside(image_) + " left in place");
}

TEST_F(StarterServiceTest, WithoutHandOverValuesNothingHappens) {
  EXPECT_EQ(Install(), StarterOutcome::kNothingHandedOver);
  ASSERT_TRUE(WriteHandOverValues(*store_, "/opt/TARN/~QuarrinSrvc", "NoSuchService"));
  EXPECT_EQ(Install(), StarterOutcome::kNothingHandedOver);
  std::vector<std::string> log = StarterLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], std::string("1 No hand-over values in HKEY_LOCAL_MACHINE") + StarterKey() +
                        "; nothing to install");
  EXPECT_EQ(log[2],
            "1 Service NoSuchService is not installed with an executable path; nothing "
            "to install");
}

}  // namespace
}  // namespace quarrin
