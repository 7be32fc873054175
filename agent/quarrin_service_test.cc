#include "agent/quarrin_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "core/file_version.h"
#include "core/registry.h"
#include "platform/time/fake_clock.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"
#include "tests/udp_collector.h"

namespace quarrin {
namespace {

using testing::HttpTestServer;
using testing::Reply;
using testing::TempDir;
using testing::UdpCollector;

DateTime At(int day, int h, int m, int s, int ms = 0) {
  return EncodeDateTime({2026, 12, day, h, m, s, ms});
}

// Jumps the fake clock to each deadline; control requests scripted for a
// moment before the deadline are posted at that moment instead.
class FakeWaiter final : public LoopWaiter {
 public:
  FakeWaiter(FakeClock& clock, ControlQueue& queue) : clock_(clock), queue_(queue) {}
  void WaitUntil(DateTime deadline) override {
    if (queue_.Pending()) return;
    if (!script_.empty() && script_.front().first <= deadline) {
      clock_.Set(script_.front().first);
      queue_.Post(script_.front().second);
      script_.erase(script_.begin());
      return;
    }
    ASSERT_FALSE(script_.empty()) << "the loop waited past the end of the script";
    clock_.Set(deadline);
  }
  void At(DateTime t, uint32_t code) { script_.emplace_back(t, code); }

 private:
  FakeClock& clock_;
  ControlQueue& queue_;
  std::vector<std::pair<DateTime, uint32_t>> script_;
};

// Records every hook call with the fake time at which it came.
class RecordingTasks final : public AgentTasks {
 public:
  explicit RecordingTasks(FakeClock& clock) : clock_(clock) {}
  void CreatePopup() override { Note("CreatePopup"); }
  void ReleasePopup() override { Note("ReleasePopup"); }
  void CreateDownloadBuffer() override { Note("CreateDownloadBuffer"); }
  void ReleaseDownloadBuffer() override { Note("ReleaseDownloadBuffer"); }
  bool StartHttpServer(uint16_t port, std::string* error) override {
    Note("StartHttpServer " + std::to_string(port));
    if (!http_starts) *error = "Address already in use";
    return http_starts;
  }
  void StopHttpServer() override { Note("StopHttpServer"); }
  void CollectPCDetails() override { Note("CollectPCDetails"); }
  StepOutcome CheckForUpdate(tFileUpdate&) override { return Step("CheckForUpdate"); }
  StepOutcome LookupWorkstation() override { return Step("LookupWorkstation"); }
  StepOutcome ReportPCDetails() override { return Step("ReportPCDetails"); }
  StepOutcome ReportApplications() override { return Step("ReportApplications"); }
  void SampleDisk() override {
    Note("SampleDisk");
    if (sample_throws) throw std::runtime_error("Invalid data type for 'x'");
    if (sample_duration_ms) clock_.Advance(std::chrono::milliseconds(sample_duration_ms));
  }
  void RollUp(DateTime) override { Note("RollUp"); }

  struct Call {
    std::string what;
    DateTime when;
  };
  std::vector<Call> calls;
  bool http_starts = true;
  bool sample_throws = false;
  int sample_duration_ms = 0;

  std::vector<DateTime> TimesOf(const std::string& what) const {
    std::vector<DateTime> out;
    for (const auto& c : calls) {
      if (c.what == what) out.push_back(c.when);
    }
    return out;
  }

 private:
  void Note(std::string what) { calls.push_back({std::move(what), clock_.Now()}); }
  StepOutcome Step(std::string what) {
    Note(std::move(what));
    return StepOutcome::kOk;
  }
  FakeClock& clock_;
};

class QuarrinServiceTest : public ::testing::Test {
 protected:
  QuarrinServiceTest()
      : root_env_("QUARRIN_ROOT", dir_.path()),
        store_(OpenSqliteRegistryStore(dir_ / "registry.db")),
        log_(OpenEventLog(dir_ / "eventlog.db")),
        manager_(MakeBuiltinServiceManager(*store_)),
        status_(MakeStatusReporter("TARNQuarrinSrvc")),
        clock_(At(10, 10, 3, 20)),
        waiter_(clock_, queue_),
        tasks_(clock_) {
    SetDeployment("ManifestURL", manifest_.Url("/downloads/QuarrinSrvc.xml"));
    SetDeployment("SyslogPort", std::to_string(collector_.port()));
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    reg.CreateKey("\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc");
  }

  void SetDeployment(const std::string& name, const std::string& value) {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", true));
    reg.WriteString(name, value);
  }

  void Run() {
    TTARNQuarrinSrvc service({*store_, *log_, clock_, CurlHttpClient(), *manager_}, tasks_, host_);
    service.SeedRandom(7);
    host_.RunService(service);
  }

  std::vector<std::string> Texts(uint32_t id) {
    std::vector<std::string> out;
    for (const auto& e : log_->Read("TARNQuarrinSrvc")) {
      if (e.id == id) out.push_back(e.text);
    }
    return out;
  }

  std::string ReadMaker(const std::string& name) {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    if (!reg.OpenKey("\\SOFTWARE\\TARN\\QuarrinSrvc", false)) return "<no key>";
    return reg.ValueExists(name) ? reg.ReadString(name) : "<missing>";
  }

  TempDir dir_;
  testing::ScopedEnv root_env_;
  HttpTestServer manifest_{Reply(200, "<data><Debug>off</Debug><Syslog>localhost</Syslog></data>",
                                 "text/xml")};
  UdpCollector collector_;
  std::unique_ptr<RegistryStore> store_;
  std::unique_ptr<EventLog> log_;
  std::unique_ptr<ServiceManager> manager_;
  std::unique_ptr<StatusReporter> status_;
  FakeClock clock_;
  ControlQueue queue_;
  FakeWaiter waiter_;
  RecordingTasks tasks_;
  EventWriter host_events_{*log_, "TARNQuarrinSrvc"};
  ServiceHost host_{host_events_, *status_, queue_, waiter_};
};

TEST_F(QuarrinServiceTest, StartUpRunsItsStepsInOrderAndStopReleasesEverything) {
  waiter_.At(At(10, 10, 4, 0), kControlStop);
  Run();

  std::vector<std::string> order;
  for (const auto& c : tasks_.calls) order.push_back(c.what);
  EXPECT_EQ(order, (std::vector<std::string>{"CreatePopup", "CreateDownloadBuffer",
                                             "CollectPCDetails", "StartHttpServer 88",
                                             "StopHttpServer", "ReleasePopup",
                                             "ReleaseDownloadBuffer"}));
  std::string ver = GetFileVersion("").Text;
  EXPECT_EQ(Texts(3), std::vector<std::string>{ver + " Service executed"});
  EXPECT_EQ(Texts(2), (std::vector<std::string>{ver + " HTTP service started on port 88.",
                                                ver + " Service stopped."}));
  // The startup record and the seeded local setting.
  EXPECT_EQ(ReadMaker("Debug"), "Off");
  EXPECT_NE(ReadMaker("Started"), "<missing>");
  EXPECT_NE(ReadMaker("Memory").find("MB"), std::string::npos);
  // Execute and stop datagrams reach the collector named by the manifest.
  auto first = collector_.Receive(std::chrono::seconds(2));
  ASSERT_TRUE(first);
  EXPECT_NE(first->find("%QUARN-5-50000: "), std::string::npos) << *first;
  EXPECT_NE(first->find(" " + ver + " execute"), std::string::npos) << *first;
  auto second = collector_.Receive(std::chrono::seconds(2));
  ASSERT_TRUE(second);
  EXPECT_NE(second->find("%QUARN-5-50001: QUARRINSRVC stop"), std::string::npos) << *second;
  // Both start-up settings come from one fetch of the manifest.
  EXPECT_EQ(manifest_.RequestCount(), 1u);
}

TEST_F(QuarrinServiceTest, ManifestDebugOnLeavesTheLocalSettingUnread) {
  manifest_.SetHandler([](const testing::RecordedRequest&) {
    return Reply(200, "<data><Debug>On</Debug></data>", "text/xml");
  });
  waiter_.At(At(10, 10, 4, 0), kControlStop);
  Run();
  EXPECT_EQ(ReadMaker("Debug"), "<missing>");
  EXPECT_FALSE(collector_.Receive(std::chrono::milliseconds(200)));  // no Syslog element
}

TEST_F(QuarrinServiceTest, RunsSamplesAndTheDailyTasksOnTheirSchedule) {
  waiter_.At(At(11, 7, 0, 0), kControlStop);
  Run();
  auto samples = tasks_.TimesOf("SampleDisk");
  ASSERT_GE(samples.size(), 2u);
  EXPECT_EQ(MillisecondsBetween(At(10, 10, 5, 0, 1), samples[0]), 0);
  EXPECT_EQ(MillisecondsBetween(At(10, 10, 10, 0, 1), samples[1]), 0);
  // Every slot of the day gets exactly one sample.
  EXPECT_EQ(tasks_.TimesOf("RollUp").size(), samples.size());

  auto daily = tasks_.TimesOf("CheckForUpdate");
  ASSERT_EQ(daily.size(), 2u);
  EXPECT_EQ(MillisecondsBetween(At(10, 10, 5, 20, 1), daily[0]), 0);
  EXPECT_GE(daily[1], At(11, 1, 0, 0));
  EXPECT_LT(daily[1], At(11, 7, 0, 0));
  // The four daily tasks run in their order.
  std::vector<std::string> first_daily;
  for (const auto& c : tasks_.calls) {
    if (c.when == daily[0] && c.what != "SampleDisk" && c.what != "RollUp") {
      first_daily.push_back(c.what);
    }
  }
  EXPECT_EQ(first_daily, (std::vector<std::string>{"CheckForUpdate", "LookupWorkstation",
                                                   "ReportPCDetails", "ReportApplications"}));
}

TEST_F(QuarrinServiceTest, ALongSampleIsNotRepeatedInTheNextPass) {
  tasks_.sample_duration_ms = 6 * 60 * 1000;
  waiter_.At(At(10, 10, 20, 0), kControlStop);
  Run();
  auto samples = tasks_.TimesOf("SampleDisk");
  ASSERT_EQ(samples.size(), 2u);
  // 10:05 took until 10:11; the next one waits for the 10:15 boundary.
  EXPECT_EQ(MillisecondsBetween(At(10, 10, 15, 0, 1), samples[1]), 0);
}

TEST_F(QuarrinServiceTest, AnExceptionFromATaskEndsTheLoopWithItsMessage) {
  tasks_.sample_throws = true;
  waiter_.At(At(10, 23, 0, 0), kControlStop);  // never reached
  Run();
  EXPECT_EQ(Texts(999), std::vector<std::string>{"E.Message1=Invalid data type for 'x'"});
  EXPECT_EQ(host_.state(), ServiceState::kStopped);
}

TEST_F(QuarrinServiceTest, AWrongTypedAttributeEndsStartUp) {
  Registry reg(*store_);
  reg.SetRootKey(RootKey::kLocalMachine);
  ASSERT_TRUE(reg.OpenKey("\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc", false));
  reg.WriteInteger("SerialNo", 5);
  Run();
  EXPECT_EQ(Texts(999), std::vector<std::string>{"E.Message1=Invalid data type for 'SerialNo'"});
  EXPECT_TRUE(Texts(3).empty());
  EXPECT_EQ(reg.ReadInteger("SerialNo"), 5);  // nothing lost
}

TEST_F(QuarrinServiceTest, AnHttpPortInUseIsLoggedAndTheLoopRunsOn) {
  tasks_.http_starts = false;
  waiter_.At(At(10, 10, 6, 0), kControlStop);
  Run();
  std::string ver = GetFileVersion("").Text;
  auto texts = Texts(3);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], ver + " Failed to start HTTP service on port 88.");
  EXPECT_EQ(tasks_.TimesOf("SampleDisk").size(), 1u);
}

TEST_F(QuarrinServiceTest, AStopInAPassRunsNothingAfterIt) {
  // The stop arrives exactly when a sample falls due.
  waiter_.At(At(10, 10, 5, 0, 1), kControlStop);
  Run();
  EXPECT_TRUE(tasks_.TimesOf("SampleDisk").empty());
}

}  // namespace
}  // namespace quarrin
