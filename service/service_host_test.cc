#include "service/service_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/time/fake_clock.h"
#include "platform/eventlog/memory_event_log_double.h"

namespace quarrin {
namespace {

class RecordingReporter final : public StatusReporter {
 public:
  bool Report(const ServiceStatus& status, std::string*) override {
    std::lock_guard lock(mu);
    states.push_back(status.state);
    accepted.push_back(status.controls_accepted);
    return true;
  }
  std::vector<ServiceState> Take() {
    std::lock_guard lock(mu);
    auto out = states;
    states.clear();
    return out;
  }
  std::mutex mu;
  std::vector<ServiceState> states;
  std::vector<uint32_t> accepted;
};

class NoWait final : public LoopWaiter {
 public:
  void WaitUntil(DateTime) override {}
};

// Handlers that run the loop until stopped and can be told to fail.
class ScriptedHandlers final : public ServiceHandlers {
 public:
  explicit ScriptedHandlers(ServiceHost& host) : host_(host) {}
  void ServiceStart(bool& started) override { started = start_result; }
  void ServiceExecute() override {
    executed = true;
    while (!host_.StopRequested()) {
      host_.DeliverControlRequests();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void ServiceStop(bool& stopped) override {
    ++stops;
    if (stop_throws) throw std::runtime_error("Host not found.");
    stopped = stop_result;
  }
  void ServiceShutdown() override {
    ++shutdowns;
    if (shutdown_throws) throw std::runtime_error("boom");
  }

  bool start_result = true, stop_result = true, shutdown_throws = false;
  std::atomic<bool> stop_throws{false};
  bool executed = false;
  std::atomic<int> stops{0}, shutdowns{0};

 private:
  ServiceHost& host_;
};

class ServiceHostTest : public ::testing::Test {
 protected:
  MemoryEventLog log_;
  EventWriter events_{log_, "TARNQuarrinSrvc"};
  RecordingReporter reporter_;
  ControlQueue queue_;
  NoWait waiter_;
  ServiceHost host_{events_, reporter_, queue_, waiter_};
  ScriptedHandlers handlers_{host_};
};

using S = ServiceState;

TEST_F(ServiceHostTest, StopRunsTheHandlerAndEndsTheService) {
  queue_.Post(kControlStop);
  host_.RunService(handlers_);
  EXPECT_TRUE(handlers_.executed);
  EXPECT_EQ(handlers_.stops, 1);
  EXPECT_EQ(reporter_.Take(),
            (std::vector<S>{S::kStartPending, S::kStartPending, S::kRunning, S::kStopPending,
                            S::kStopped}));
  // No controls are accepted while start is pending; stop, pause and shutdown after.
  EXPECT_EQ(reporter_.accepted[0], 0u);
  EXPECT_EQ(reporter_.accepted[2], 7u);
}

TEST_F(ServiceHostTest, PauseSuspendsUntilTheNextRequestWhichIsThenHandled) {
  std::thread service([&] { host_.RunService(handlers_); });
  queue_.Post(kControlPause);
  while (host_.state() != S::kPaused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  queue_.Post(kControlInterrogate);
  queue_.Post(kControlContinue);
  queue_.Post(kControlStop);
  service.join();
  EXPECT_EQ(reporter_.Take(),
            (std::vector<S>{S::kStartPending, S::kStartPending, S::kRunning, S::kPausePending,
                            S::kPaused, S::kPaused, S::kContinuePending, S::kRunning,
                            S::kStopPending, S::kStopped}));
}

TEST_F(ServiceHostTest, StopWhilePausedFinishesThePauseThenStops) {
  std::thread service([&] { host_.RunService(handlers_); });
  queue_.Post(kControlPause);
  while (host_.state() != S::kPaused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  queue_.Post(kControlStop);
  service.join();
  EXPECT_EQ(handlers_.stops, 1);
  EXPECT_EQ(host_.state(), S::kStopped);
}

TEST_F(ServiceHostTest, ARaisingStopHandlerKeepsTheServiceRunning) {
  handlers_.stop_throws = true;
  std::thread service([&] { host_.RunService(handlers_); });
  host_.PostControl(kControlStop);
  while (handlers_.stops == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  while (host_.state() != S::kRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(host_.StopRequested());
  EXPECT_FALSE(host_.StopPending());  // transfers go on as before
  handlers_.stop_throws = false;
  host_.PostControl(kControlStop);
  service.join();
  ASSERT_FALSE(log_.entries.empty());
  EXPECT_EQ(log_.entries[0].text, "Service failed on stop: Host not found.");
  EXPECT_EQ(log_.entries[0].type, EventType::kError);
  EXPECT_EQ(log_.entries[0].id, 0u);
}

TEST_F(ServiceHostTest, AStopOrShutdownSetsTheStopFlagBeforeTheServiceThreadSeesIt) {
  for (uint32_t code : {kControlStop, kControlShutdown}) {
    ServiceHost host(events_, reporter_, queue_, waiter_);
    host.PostControl(kControlInterrogate);
    host.PostControl(kControlPause);
    EXPECT_FALSE(host.StopPending());
    host.PostControl(code);
    EXPECT_TRUE(host.stop_flag().IsSet()) << code;
    while (queue_.TryTake()) {
    }
  }
}

TEST_F(ServiceHostTest, ShutdownEndsTheServiceEvenWhenItsHandlerRaises) {
  handlers_.shutdown_throws = true;
  queue_.Post(kControlShutdown);
  host_.RunService(handlers_);
  EXPECT_EQ(handlers_.shutdowns, 1);
  ASSERT_EQ(log_.entries.size(), 1u);
  EXPECT_EQ(log_.entries[0].text, "Service failed on shutdown: boom");
}

TEST_F(ServiceHostTest, CustomCodesAreAcceptedAndChangeNothing) {
  queue_.Post(128);
  queue_.Post(kControlStop);
  host_.RunService(handlers_);
  EXPECT_TRUE(log_.entries.empty());
  EXPECT_EQ(reporter_.Take(),
            (std::vector<S>{S::kStartPending, S::kStartPending, S::kRunning, S::kStopPending,
                            S::kStopped}));
}

TEST_F(ServiceHostTest, StartHandlerThatDeclinesSkipsExecute) {
  handlers_.start_result = false;
  host_.RunService(handlers_);
  EXPECT_FALSE(handlers_.executed);
  EXPECT_EQ(reporter_.Take(), (std::vector<S>{S::kStartPending, S::kStartPending, S::kStopped}));
}

}  // namespace
}  // namespace quarrin
