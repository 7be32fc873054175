// The real QuarrinSrvc and quarrinctl in a temporary QUARRIN_ROOT: install,
// start under the built-in service manager, control requests, stop,
// uninstall; and the systemd path with a stand-in systemctl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/eventlog/event_log.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"
#include "tests/udp_collector.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::CommandResult;
using testing::HttpTestServer;
using testing::Reply;
using testing::RunCommand;
using testing::TempDir;
using testing::UdpCollector;

class ServiceIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = {"QUARRIN_ROOT=" + root_.path(), "QUARRIN_LIVE_FACTS=0", "NOTIFY_SOCKET="};
    Ctl({"reg", "set", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", "ManifestURL", "REG_SZ",
         manifest_.Url("/downloads/QuarrinSrvc.xml")});
    Ctl({"reg", "set", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", "SyslogPort", "REG_SZ",
         std::to_string(collector_.port())});
    Ctl({"reg", "set", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", "HTTPPort", "REG_SZ",
         "1"});
    // Without the live view the details collected at start-up need this.
    Ctl({"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "InstallDate",
         "REG_DWORD", "0"});
  }

  void TearDown() override {
    // Never leave a service process behind.
    RunCommand({BuiltExecutable("quarrinctl"), "sc", "stop", "TARNQuarrinSrvc"}, env_);
    WaitForState("STOPPED", 10s);
  }

  CommandResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), BuiltExecutable("quarrinctl"));
    CommandResult r = RunCommand(args, env_);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return r;
  }

  CommandResult Agent(std::vector<std::string> args, std::vector<std::string> extra_env = {}) {
    args.insert(args.begin(), BuiltExecutable("QuarrinSrvc"));
    std::vector<std::string> env = env_;
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    return RunCommand(args, env);
  }

  std::string State() {
    return RunCommand({BuiltExecutable("quarrinctl"), "sc", "query", "TARNQuarrinSrvc"}, env_).out;
  }

  bool WaitForState(const std::string& state, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (State() == state + "\n") return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  std::vector<EventRecord> Events(const std::string& source) {
    testing::ScopedEnv root("QUARRIN_ROOT", root_.path());
    return OpenEventLog(root_.path() + "/var/lib/quarrin/eventlog.db")->Read(source);
  }

  bool WaitForEvent(const std::string& text_end, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      for (const auto& e : Events("TARNQuarrinSrvc")) {
        if (e.text.size() >= text_end.size() &&
            e.text.compare(e.text.size() - text_end.size(), text_end.size(), text_end) == 0) {
          return true;
        }
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  bool KeyExists(const std::string& key) {
    CommandResult r = RunCommand({BuiltExecutable("quarrinctl"), "reg", "query", key}, env_);
    return r.exit_status == 0;
  }

  TempDir root_;
  HttpTestServer manifest_{Reply(200, "<data><Syslog>127.0.0.1</Syslog></data>", "text/xml")};
  UdpCollector collector_;
  std::vector<std::string> env_;
};

TEST_F(ServiceIntegrationTest, InstallStartControlStopUninstall) {
  CommandResult install = Agent({"-INSTALL"});
  ASSERT_EQ(install.exit_status, 0) << install.err;
  EXPECT_EQ(install.out, "Service installed successfully\n");
  EXPECT_TRUE(KeyExists("HKLM\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc"));
  EXPECT_TRUE(
      KeyExists("HKLM\\System\\CurrentControlSet\\Services\\Eventlog\\Application\\TARNQuarrinSrvc"));

  Ctl({"sc", "start", "TARNQuarrinSrvc"});
  ASSERT_TRUE(WaitForEvent(" Service executed", 10s)) << State();
  ASSERT_TRUE(WaitForState("RUNNING", 5s));
  auto datagram = collector_.Receive(5s);
  ASSERT_TRUE(datagram);
  EXPECT_NE(datagram->find("%QUARN-5-50000: QuarrinSrvc "), std::string::npos) << *datagram;
  EXPECT_NE(datagram->find(" execute"), std::string::npos) << *datagram;

  Ctl({"sc", "pause", "TARNQuarrinSrvc"});
  EXPECT_TRUE(WaitForState("PAUSED", 2s));
  Ctl({"sc", "interrogate", "TARNQuarrinSrvc"});
  Ctl({"sc", "continue", "TARNQuarrinSrvc"});
  EXPECT_TRUE(WaitForState("RUNNING", 2s));
  Ctl({"sc", "control", "TARNQuarrinSrvc", "128"});
  EXPECT_TRUE(WaitForState("RUNNING", 2s));

  Ctl({"sc", "stop", "TARNQuarrinSrvc"});
  ASSERT_TRUE(WaitForState("STOPPED", 5s));
  datagram = collector_.Receive(5s);
  ASSERT_TRUE(datagram);
  EXPECT_NE(datagram->find("%QUARN-5-50001: QUARRINSRVC stop"), std::string::npos) << *datagram;

  // The lifecycle entries, in order.
  std::vector<std::pair<uint32_t, std::string>> seen;
  for (const auto& e : Events("TARNQuarrinSrvc")) seen.emplace_back(e.id, e.text);
  ASSERT_GE(seen.size(), 3u);
  size_t executed = 0, http = 0, stopped = 0;
  for (size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].second.ends_with(" Service executed")) executed = i + 1;
    if (seen[i].second.find(" HTTP service") != std::string::npos) http = i + 1;
    if (seen[i].second.ends_with(" Service stopped.")) stopped = i + 1;
  }
  EXPECT_TRUE(executed && http && stopped);
  EXPECT_LT(executed, http);
  EXPECT_LT(http, stopped);
  EXPECT_EQ(seen[stopped - 1].first, 2u);
  EXPECT_EQ(seen[executed - 1].first, 3u);

  CommandResult uninstall = Agent({"-UNINSTALL"});
  ASSERT_EQ(uninstall.exit_status, 0) << uninstall.err;
  EXPECT_EQ(uninstall.out, "Service uninstalled successfully\n");
  EXPECT_FALSE(KeyExists("HKLM\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc"));
  EXPECT_FALSE(
      KeyExists("HKLM\\System\\CurrentControlSet\\Services\\Eventlog\\Application\\TARNQuarrinSrvc"));
  auto last = Events("TARNQuarrinSrvc").back();
  EXPECT_EQ(last.id, 1u);
  EXPECT_TRUE(last.text.ends_with(" Service uninstalled.\r\n"));
}

TEST_F(ServiceIntegrationTest, SwitchesAndInstallFailures) {
  CommandResult silent = Agent({"/Install", "-silent"});
  ASSERT_EQ(silent.exit_status, 0) << silent.err;
  EXPECT_EQ(silent.out, "");
  CommandResult again = Agent({"-install", "-SILENT"});
  EXPECT_NE(again.exit_status, 0);
  EXPECT_EQ(again.err,
            "Service \"TARN Quarrin Service\" failed to install with error: \"The specified "
            "service already exists.\"\n");
  ASSERT_EQ(Agent({"-UNINSTALL", "/SILENT"}).exit_status, 0);
  CommandResult missing = Agent({"-UNINSTALL"});
  EXPECT_NE(missing.exit_status, 0);
  EXPECT_EQ(missing.err,
            "Service \"TARN Quarrin Service\" failed to uninstall with error: \"The specified "
            "service does not exist as an installed service.\"\n");
}

TEST_F(ServiceIntegrationTest, StartedByHandWithoutTheManagerLogsUnderItsOwnName) {
  // "/install:x" is no switch, so this is an attempt to run as the service.
  CommandResult r = Agent({"/install:x"}, {"QUARRIN_SCM="});
  EXPECT_NE(r.exit_status, 0);
  auto entries = Events("QuarrinSrvc");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].id, 0u);
  EXPECT_EQ(entries[0].type, EventType::kError);
  EXPECT_FALSE(KeyExists("HKLM\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc"));
}

TEST_F(ServiceIntegrationTest, AStateFolderThatCannotBeMadeIsNamedWithTheReason) {
  // A file where a folder of the state's path should be.
  testing::WriteFileText(root_.path() + "/blocked", "");
  const std::string root = "QUARRIN_ROOT=" + root_.path() + "/blocked";
  const std::string folder = root_.path() + "/blocked/var/lib/quarrin";
  struct {
    std::vector<std::string> args;
    std::string leader;
  } cases[] = {
      {{BuiltExecutable("QuarrinSrvc")}, "QuarrinSrvc: "},
      {{BuiltExecutable("TARNStartSrvc")}, "TARNStartSrvc: "},
      {{BuiltExecutable("quarrinctl"), "reg", "query", "HKLM"}, "quarrinctl reg query: "},
  };
  for (const auto& c : cases) {
    CommandResult r = RunCommand(c.args, {root, "QUARRIN_SCM=TARNQuarrinSrvc"});
    EXPECT_NE(r.exit_status, 0) << c.leader;
    EXPECT_EQ(r.err, c.leader + folder + ": cannot create the state folder: Not a directory\n");
  }
}

// systemd "runs" the root, through a systemctl that notes its arguments in
// the returned file.
std::string UnderStandInSystemd(const std::string& root, std::vector<std::string>& env) {
  std::filesystem::create_directories(root + "/run/systemd/system");
  std::string bin = root + "/bin";
  std::filesystem::create_directories(bin);
  std::string calls = root + "/systemctl.calls";
  testing::WriteFileText(bin + "/systemctl", "#!/bin/sh\necho \"$*\" >> '" + calls + "'\n");
  chmod((bin + "/systemctl").c_str(), 0755);
  const char* path = std::getenv("PATH");
  env.push_back("PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin"));
  return calls;
}

TEST_F(ServiceIntegrationTest, UnderSystemdInstallWritesAndEnablesAUnit) {
  std::string calls = UnderStandInSystemd(root_.path(), env_);

  ASSERT_EQ(Agent({"-INSTALL", "-SILENT"}).exit_status, 0);
  std::string unit =
      testing::ReadFileText(root_.path() + "/etc/systemd/system/TARNQuarrinSrvc.service");
  EXPECT_NE(unit.find("Environment=\"QUARRIN_SCM=TARNQuarrinSrvc\""), std::string::npos) << unit;
  EXPECT_NE(unit.find("ExecStart=\"" + BuiltExecutable("QuarrinSrvc") + "\""),
            std::string::npos)
      << unit;
  EXPECT_NE(unit.find("Type=notify"), std::string::npos);

  Ctl({"sc", "start", "TARNQuarrinSrvc"});
  Ctl({"sc", "stop", "TARNQuarrinSrvc"});
  ASSERT_EQ(Agent({"-UNINSTALL", "-SILENT"}).exit_status, 0);
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/etc/systemd/system/TARNQuarrinSrvc.service"));
  EXPECT_EQ(testing::ReadFileText(calls),
            "daemon-reload\n"
            "enable TARNQuarrinSrvc.service\n"
            "start --no-block TARNQuarrinSrvc.service\n"
            "stop --no-block TARNQuarrinSrvc.service\n"
            "disable TARNQuarrinSrvc.service\n"
            "daemon-reload\n");
  env_.pop_back();
  std::filesystem::remove_all(root_.path() + "/run/systemd");
}

TEST_F(ServiceIntegrationTest, UnderSystemdAPackagedUnitIsEnabledAsItIs) {
  std::string calls = UnderStandInSystemd(root_.path(), env_);
  const std::string packaged = root_.path() + "/lib/systemd/system/TARNQuarrinSrvc.service";
  std::filesystem::create_directories(root_.path() + "/lib/systemd/system");
  testing::WriteFileText(packaged, "[Service]\nExecStart=/usr/lib/quarrin/QuarrinSrvc\n");

  ASSERT_EQ(Agent({"-INSTALL", "-SILENT"}).exit_status, 0);
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/etc/systemd/system/TARNQuarrinSrvc.service"));
  ASSERT_EQ(Agent({"-UNINSTALL", "-SILENT"}).exit_status, 0);
  EXPECT_EQ(testing::ReadFileText(packaged), "[Service]\nExecStart=/usr/lib/quarrin/QuarrinSrvc\n");
  EXPECT_EQ(testing::ReadFileText(calls),
            "daemon-reload\n"
            "enable TARNQuarrinSrvc.service\n"
            "disable TARNQuarrinSrvc.service\n"
            "daemon-reload\n");
  env_.pop_back();
  std::filesystem::remove_all(root_.path() + "/run/systemd");
}

}  // namespace
}  // namespace quarrin
