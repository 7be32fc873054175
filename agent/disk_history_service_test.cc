// The disk history of the running service on a fake clock: the real
// sampler, roll-up and chart commands, with the regional settings changed
// and the daily run slowed down while it runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "agent/agent_wiring.h"
#include "agent/quarrin_service.h"
#include "core/file_version.h"
#include "core/registry.h"
#include "disk/disk_history.h"
#include "platform/time/fake_clock.h"
#include "platform/files/fixed_drive_double.h"
#include "service/control_queue.h"
#include "service/service_host.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

DateTime At(int h, int m, int s = 0, int ms = 0) {
  return EncodeDateTime({2026, 12, 10, h, m, s, ms});
}

// Records what each chart would show.
class RecordingDrawing final : public Drawing {
 public:
  std::string DrawChart(const std::string&, const std::vector<std::string>& labels,
                        const std::vector<double>&) override {
    std::lock_guard lock(mu_);
    last_labels_ = labels;
    return "\xFF\xD8jpeg";
  }
  std::string DrawDiskMap(const std::string&, const std::vector<FolderBar>&) override {
    return "";
  }
  std::unique_ptr<PopupLoop> NewPopupLoop() override { return nullptr; }
  void ReleaseFonts() override {}
  std::vector<std::string> last_labels() {
    std::lock_guard lock(mu_);
    return last_labels_;
  }

 private:
  std::mutex mu_;
  std::vector<std::string> last_labels_;
};

// The running agent's tasks with a daily run that only takes the time a
// test gives it.
class QuietDailyRun final : public AgentTasks {
 public:
  QuietDailyRun(AgentWiring& wiring, FakeClock& clock) : w_(wiring), clock_(clock) {}
  void CreatePopup() override { w_.CreatePopup(); }
  void ReleasePopup() override { w_.ReleasePopup(); }
  void CreateDownloadBuffer() override { w_.CreateDownloadBuffer(); }
  void ReleaseDownloadBuffer() override { w_.ReleaseDownloadBuffer(); }
  bool StartHttpServer(uint16_t port, std::string* error) override {
    return w_.StartHttpServer(port, error);
  }
  void StopHttpServer() override { w_.StopHttpServer(); }
  void DisconnectHttpClient() override { w_.DisconnectHttpClient(); }
  void CollectPCDetails() override { w_.CollectPCDetails(); }
  StepOutcome CheckForUpdate(tFileUpdate&) override {
    clock_.Advance(daily_run_length);
    return StepOutcome::kOk;
  }
  void SampleDisk() override { w_.SampleDisk(); }
  void RollUp(DateTime slot) override { w_.RollUp(slot); }

  std::chrono::milliseconds daily_run_length{0};

 private:
  AgentWiring& w_;
  FakeClock& clock_;
};

// Jumps the fake clock to each deadline, running the scripted steps at
// their times on the way; asks for a stop once the script is done.
class ScriptedWaiter final : public LoopWaiter {
 public:
  ScriptedWaiter(FakeClock& clock, ControlQueue& queue) : clock_(clock), queue_(queue) {}
  void WaitUntil(DateTime deadline) override {
    if (queue_.Pending()) return;
    if (script_.empty()) {
      queue_.Post(kControlStop);
      return;
    }
    if (script_.front().first <= deadline) {
      clock_.Set(script_.front().first);
      auto step = std::move(script_.front().second);
      script_.erase(script_.begin());
      step();
      return;
    }
    clock_.Set(deadline);
  }
  void At(DateTime t, std::function<void()> step) { script_.emplace_back(t, std::move(step)); }

 private:
  FakeClock& clock_;
  ControlQueue& queue_;
  std::vector<std::pair<DateTime, std::function<void()>>> script_;
};

class DiskHistoryServiceTest : public ::testing::Test {
 protected:
  DiskHistoryServiceTest() {
    Set(RootKey::kLocalMachine, "\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", "ManifestURL",
        "http://127.0.0.1:" + std::to_string(testing::FreePort()) + "/QuarrinSrvc.xml");
    Set(RootKey::kLocalMachine, "\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment", "HTTPPort",
        std::to_string(port_));
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    reg.CreateKey("\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc");
    // The details collected at start-up need it, whatever the machine says.
    reg.OpenKey("\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", true);
    reg.WriteInteger("InstallDate", 0);
  }

  void Set(RootKey root, const std::string& key, const std::string& name,
           const std::string& value) {
    Registry reg(*store_);
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(key, true));
    reg.WriteString(name, value);
  }
  void SetRegional(const std::string& name, const std::string& value) {
    Set(RootKey::kUsers, "\\.DEFAULT\\Control Panel\\International", name, value);
  }

  // Runs the service from `start` through the script, its daily run taking
  // `daily_run_length`.
  void Run(DateTime start, std::chrono::milliseconds daily_run_length = {}) {
    clock_.Set(start);
    AgentWiring wiring({*store_, *log_, clock_, CurlHttpClient(), *manager_}, disk_, drawing_);
    QuietDailyRun tasks(wiring, clock_);
    tasks.daily_run_length = daily_run_length;
    TTARNQuarrinSrvc service({*store_, *log_, clock_, CurlHttpClient(), *manager_}, tasks, host_);
    wiring.Attach(&service);
    host_.RunService(service);
  }

  // The labels of the chart that the command draws; fails the test when the
  // reply is not an image.
  std::vector<std::string> Chart(const std::string& command) {
    HttpRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(port_) + command;
    const HttpResponse reply = CurlHttpClient().Send(request);
    EXPECT_EQ(reply.content_type, "image/jpeg") << command << ": " << reply.body;
    return drawing_.last_labels();
  }

  std::vector<std::string> Names(SeriesPeriod period) {
    std::vector<std::string> names;
    for (const NamedValue& v : store_->Values(RootKey::kLocalMachine, SeriesKeyPath(period).substr(1))) {
      names.push_back(v.name);
    }
    return names;
  }

  std::vector<std::string> Events(EventType type) {
    std::vector<std::string> out;
    for (const auto& e : log_->Read("TARNQuarrinSrvc")) {
      if (e.type == type) out.push_back(std::to_string(e.id) + " " + e.text);
    }
    return out;
  }

  testing::TempDir dir_;
  testing::ScopedEnv root_env_{"QUARRIN_ROOT", dir_.path()};
  testing::ScopedEnv zone_{"TZ", "UTC0"};
  uint16_t port_ = testing::FreePort();
  std::unique_ptr<RegistryStore> store_ = OpenSqliteRegistryStore(dir_ / "registry.db");
  std::unique_ptr<EventLog> log_ = OpenEventLog(dir_ / "eventlog.db");
  std::unique_ptr<ServiceManager> manager_ = MakeBuiltinServiceManager(*store_);
  std::unique_ptr<StatusReporter> status_ = MakeStatusReporter("TARNQuarrinSrvc");
  FakeClock clock_;
  ControlQueue queue_;
  ScriptedWaiter waiter_{clock_, queue_};
  EventWriter host_events_{*log_, "TARNQuarrinSrvc"};
  ServiceHost host_{host_events_, *status_, queue_, waiter_};
  FixedDrive disk_{1000, 500};
  RecordingDrawing drawing_;
};

TEST_F(DiskHistoryServiceTest, RegionalChangesBetweenSamplesLoseNothingReadable) {
  // Each of the three settings changes between two samples; the averages of
  // 11:00, 11:30, 12:00 and 12:30 are each written with other formats.
  waiter_.At(At(11, 10), [&] { SetRegional("sShortDate", "MM/dd/yyyy"); });
  waiter_.At(At(11, 40), [&] { SetRegional("sDate", "."); });
  waiter_.At(At(12, 10), [&] { SetRegional("sTimeFormat", "h:mm:ss tt"); });
  std::vector<std::string> day, week, month;
  waiter_.At(At(12, 41), [&] {
    day = Chart("/disk_d");
    week = Chart("/disk_w");
    month = Chart("/disk_m");
  });
  Run(At(10, 57, 30));

  EXPECT_TRUE(Events(EventType::kError).empty()) << Events(EventType::kError).front();
  EXPECT_EQ(Events(EventType::kWarning), std::vector<std::string>{});
  const std::string version = GetFileVersion("").Text;
  EXPECT_EQ(Events(EventType::kSuccess), std::vector<std::string>{"2 " + version + " Service stopped."});

  // Every sample from 11:00 to 12:40 is kept and drawn, newest first.
  std::vector<std::string> expected_day;
  for (int k = 20; k >= 0; --k) {
    char label[16];
    std::snprintf(label, sizeof label, "%02d:%02d:00.001", 11 + k / 12, k % 12 * 5);
    expected_day.push_back(label);
  }
  EXPECT_EQ(Names(SeriesPeriod::kDay).size(), 21u);
  EXPECT_EQ(day, expected_day);
  EXPECT_EQ(Names(SeriesPeriod::kWeek),
            (std::vector<std::string>{"10/12/2026 11:00:00", "12/10/2026 11:30:00",
                                      "12.10.2026 12:00:00", "12.10.2026 12:30:00 PM"}));
  EXPECT_EQ(week, (std::vector<std::string>{"12:30:00 PM", "12:00:00", "11:30:00", "11:00:00"}));
  EXPECT_EQ(month, std::vector<std::string>{"12:00:00"});
}

TEST_F(DiskHistoryServiceTest, UnreadableDaySamplesAreDeletedWithOneWarning) {
  // Written under settings nobody remembers.
  {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    ASSERT_TRUE(reg.OpenKey(SeriesKeyPath(SeriesPeriod::kDay), true));
    reg.WriteFloat("10-12-26 10:40:00.000", 0.25);
    reg.WriteFloat("10-12-26 10:45:00.000", 0.25);
  }
  std::vector<std::string> day;
  waiter_.At(At(11, 6), [&] { day = Chart("/disk_d"); });
  Run(At(10, 57, 30));

  EXPECT_TRUE(Events(EventType::kError).empty()) << Events(EventType::kError).front();
  const std::string version = GetFileVersion("").Text;
  EXPECT_EQ(Events(EventType::kWarning),
            std::vector<std::string>{"105 " + version +
                                     " Deleted 2 disk samples whose names are not times under "
                                     "the current or the remembered regional settings."});
  EXPECT_EQ(day, (std::vector<std::string>{"11:05:00.001", "11:00:00.001"}));
}

TEST_F(DiskHistoryServiceTest, ASlowDailyRunStillWritesTheRollUpsOfItsSlot) {
  // The first daily run starts at 11:59:30 and takes two minutes, so the
  // sample of 12:00 is taken at 12:01:30.
  waiter_.At(At(12, 3), [] {});
  Run(At(11, 57, 30), std::chrono::minutes(2));

  EXPECT_TRUE(Events(EventType::kError).empty()) << Events(EventType::kError).front();
  EXPECT_EQ(Names(SeriesPeriod::kDay), std::vector<std::string>{"10/12/26 12:01:30.001"});
  EXPECT_EQ(Names(SeriesPeriod::kWeek), std::vector<std::string>{"10/12/2026 12:00:00"});
  EXPECT_EQ(Names(SeriesPeriod::kMonth), std::vector<std::string>{"10/12/2026 12:00:00"});
}

}  // namespace
}  // namespace quarrin
