#include "core/agent_metrics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/time/fake_clock.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

// An event log that keeps nothing.
class NullEventLog final : public EventLog {
 public:
  void Write(std::string_view, std::string_view, EventType, uint16_t, uint32_t) noexcept override {
    ++written;
  }
  std::vector<EventRecord> Read(std::optional<std::string>) override { return {}; }
  std::atomic<int> written{0};  // written from several threads
};

TEST(AgentMetricsTest, CountsFromManyThreadsAndOnlyWhatItKnows) {
  FakeClock clock(EncodeDateTime({2026, 12, 11, 6, 0, 0, 0}), 10s);
  AgentMetrics metrics(clock);
  NullEventLog log;
  CountingEventLog counted(log, metrics);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        metrics.CountHttpRequest(3, 200);
        metrics.CountHttpRefusal(HttpRefusal::kTimeout);
        metrics.CountSyslogDatagram();
        counted.Write("src", "text", EventType::kWarning, 0, 1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(metrics.HttpRequests(3, 200), 4000u);
  EXPECT_EQ(metrics.HttpRefusals(HttpRefusal::kTimeout), 4000u);
  EXPECT_EQ(metrics.SyslogDatagrams(), 4000u);
  EXPECT_EQ(metrics.EventLogEntries(EventType::kWarning), 4000u);
  EXPECT_EQ(log.written.load(), 4000);  // every entry still reaches the log

  // Commands, statuses and types outside those counted are dropped.
  metrics.CountHttpRequest(kMaxHttpCommands, 200);
  metrics.CountHttpRequest(3, 404);
  counted.Write("src", "text", static_cast<EventType>(8), 0, 1);
  EXPECT_EQ(metrics.HttpRequests(kMaxHttpCommands, 200), 0u);
  EXPECT_EQ(metrics.HttpRequests(3, 404), 0u);
  EXPECT_EQ(metrics.HttpRequests(3, 200), 4000u);
  EXPECT_EQ(log.written.load(), 4001);
}

TEST(AgentMetricsTest, TimesFollowTheClockGiven) {
  FakeClock clock(EncodeDateTime({2026, 12, 11, 6, 0, 0, 0}), 10s);
  AgentMetrics metrics(clock);
  const int64_t start = UnixMsFromLocalDateTime(clock.Now());
  EXPECT_EQ(metrics.start_unix_ms(), start);
  clock.Advance(90s);
  EXPECT_EQ(metrics.Uptime(), 90s);
  EXPECT_EQ(metrics.daily_run_started_unix_ms(), 0);
  metrics.DailyRunStarted();
  EXPECT_EQ(metrics.daily_run_started_unix_ms(), start + 90000);
  EXPECT_EQ(metrics.step_outcome(DailyStep::kLookup), StepOutcome::kNotRun);
}

TEST(AgentMetricsTest, AnUnreadManifestKeepsTheVersionSeenBefore) {
  FakeClock clock(EncodeDateTime({2026, 12, 11, 6, 0, 0, 0}));
  AgentMetrics metrics(clock);
  metrics.UpdateChecked("1.0.0.7", true, true);
  clock.Advance(1h);
  metrics.UpdateChecked(std::nullopt, false, false);
  const UpdateCheckRecord update = metrics.update_check();
  EXPECT_EQ(update.published_version, "1.0.0.7");
  EXPECT_FALSE(update.pending);
  EXPECT_FALSE(update.refused);
  EXPECT_EQ(update.checked_unix_ms, UnixMsFromLocalDateTime(clock.Now()));
}

}  // namespace
}  // namespace quarrin
