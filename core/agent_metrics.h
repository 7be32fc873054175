// What the running agent counts and remembers about its own work, for the
// /metrics command: each figure is written where its event happens (the
// HTTP server, the daily run, the update check, the syslog sender, the
// event log) and read when a client asks. Times are Unix milliseconds of
// the clock given at construction, 0 for "not yet".
// Safe for concurrent use by multiple threads.
#ifndef QUARRIN_CORE_AGENT_METRICS_H_
#define QUARRIN_CORE_AGENT_METRICS_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/eventlog/event_log.h"
#include "platform/time/clock.h"

namespace quarrin {

// The steps of the daily run, in their order.
enum class DailyStep { kUpdateCheck, kLookup, kDetailsReport, kApplicationsReport };
inline constexpr size_t kDailySteps = 4;

// How a step ended the last time it ran. Skipped: there was nothing to do
// (the attributes the lookup fills are set) or another run was doing it
// (an update check already running).
enum class StepOutcome : uint8_t { kNotRun, kOk, kFailed, kSkipped };
inline constexpr size_t kStepOutcomes = 4;

// Why the HTTP interface turned a client away: not on AllowedReaders or
// AllowedClients (403), the server full or the client holding its share of
// connections (503), the request head late (408).
enum class HttpRefusal { kAllowList, kConnectionLimit, kPerClientLimit, kTimeout };
inline constexpr size_t kHttpRefusals = 4;

// The statuses the request handler answers with; requests are counted per
// command and one of these.
inline constexpr std::array<unsigned, 3> kCountedHttpStatuses = {200, 403, 500};
// Commands are counted by their number below this.
inline constexpr size_t kMaxHttpCommands = 16;

// The event types, in the order they are counted.
inline constexpr std::array<EventType, 4> kCountedEventTypes = {
    EventType::kSuccess, EventType::kError, EventType::kWarning, EventType::kInformation};

// What the last update check that ran found.
struct UpdateCheckRecord {
  std::string published_version;  // the last version a manifest published; empty: none read
  bool pending = false;           // a newer version was published
  bool refused = false;           // its download's signature did not hold
  int64_t checked_unix_ms = 0;
};

class AgentMetrics {
 public:
  // The agent's start is the moment of construction.
  explicit AgentMetrics(Clock& clock);
  AgentMetrics(const AgentMetrics&) = delete;
  AgentMetrics& operator=(const AgentMetrics&) = delete;

  // Now on the clock given, as Unix milliseconds.
  int64_t NowUnixMs() const;
  int64_t start_unix_ms() const { return start_unix_ms_; }
  std::chrono::milliseconds Uptime() const;

  void CountHttpRequest(size_t command, unsigned status);
  // 0 for a command or status outside the ones counted.
  uint64_t HttpRequests(size_t command, unsigned status) const;
  void CountHttpRefusal(HttpRefusal reason);
  uint64_t HttpRefusals(HttpRefusal reason) const;

  void CountSyslogDatagram() { syslog_datagrams_.fetch_add(1, std::memory_order_relaxed); }
  uint64_t SyslogDatagrams() const { return syslog_datagrams_.load(std::memory_order_relaxed); }
  // Types other than kCountedEventTypes are not counted.
  void CountEventLogEntry(EventType type);
  uint64_t EventLogEntries(EventType type) const;

  void DailyRunStarted() { daily_run_started_.store(NowUnixMs()); }
  void DailyRunCompleted() { daily_run_completed_.store(NowUnixMs()); }
  int64_t daily_run_started_unix_ms() const { return daily_run_started_.load(); }
  int64_t daily_run_completed_unix_ms() const { return daily_run_completed_.load(); }
  void SetStepOutcome(DailyStep step, StepOutcome outcome);
  StepOutcome step_outcome(DailyStep step) const;

  // A check that ran; a manifest that could not be read (nullopt) keeps the
  // version seen before.
  void UpdateChecked(const std::optional<std::string>& published_version, bool pending,
                     bool refused);
  UpdateCheckRecord update_check() const;

 private:
  Clock& clock_;
  const int64_t start_unix_ms_;
  const std::chrono::milliseconds start_since_boot_;

  std::array<std::array<std::atomic<uint64_t>, kCountedHttpStatuses.size()>, kMaxHttpCommands>
      http_requests_{};
  std::array<std::atomic<uint64_t>, kHttpRefusals> http_refusals_{};
  std::atomic<uint64_t> syslog_datagrams_{0};
  std::array<std::atomic<uint64_t>, kCountedEventTypes.size()> event_log_entries_{};

  std::atomic<int64_t> daily_run_started_{0};
  std::atomic<int64_t> daily_run_completed_{0};
  std::array<std::atomic<StepOutcome>, kDailySteps> step_outcomes_{};

  mutable std::mutex update_mu_;
  UpdateCheckRecord update_;
};

// An event log that counts the entries written through it by type.
class CountingEventLog final : public EventLog {
 public:
  CountingEventLog(EventLog& log, AgentMetrics& metrics) : log_(log), metrics_(metrics) {}

  void Write(std::string_view source, std::string_view text, EventType type, uint16_t category,
             uint32_t id) noexcept override {
    metrics_.CountEventLogEntry(type);
    log_.Write(source, text, type, category, id);
  }
  std::vector<EventRecord> Read(std::optional<std::string> source) override {
    return log_.Read(std::move(source));
  }
  void SetMaxBytes(uint64_t bytes) override { log_.SetMaxBytes(bytes); }

 private:
  EventLog& log_;
  AgentMetrics& metrics_;
};

}  // namespace quarrin

#endif  // QUARRIN_CORE_AGENT_METRICS_H_
