#include "core/agent_metrics.h"

#include <algorithm>

namespace quarrin {

namespace {

// The slot of a value in a list of them; the list's size when it is not one.
template <typename List, typename Value>
size_t IndexOf(const List& list, Value value) {
  return static_cast<size_t>(std::find(list.begin(), list.end(), value) - list.begin());
}

}  // namespace

AgentMetrics::AgentMetrics(Clock& clock)
    : clock_(clock),
      start_unix_ms_(UnixMsFromLocalDateTime(clock.Now())),
      start_since_boot_(clock.SinceBoot()) {}

int64_t AgentMetrics::NowUnixMs() const { return UnixMsFromLocalDateTime(clock_.Now()); }

std::chrono::milliseconds AgentMetrics::Uptime() const {
  return clock_.SinceBoot() - start_since_boot_;
}

void AgentMetrics::CountHttpRequest(size_t command, unsigned status) {
  const size_t slot = IndexOf(kCountedHttpStatuses, status);
  if (command >= kMaxHttpCommands || slot == kCountedHttpStatuses.size()) return;
  http_requests_[command][slot].fetch_add(1, std::memory_order_relaxed);
}

uint64_t AgentMetrics::HttpRequests(size_t command, unsigned status) const {
  const size_t slot = IndexOf(kCountedHttpStatuses, status);
  if (command >= kMaxHttpCommands || slot == kCountedHttpStatuses.size()) return 0;
  return http_requests_[command][slot].load(std::memory_order_relaxed);
}

void AgentMetrics::CountHttpRefusal(HttpRefusal reason) {
  http_refusals_[static_cast<size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
}

uint64_t AgentMetrics::HttpRefusals(HttpRefusal reason) const {
  return http_refusals_[static_cast<size_t>(reason)].load(std::memory_order_relaxed);
}

void AgentMetrics::CountEventLogEntry(EventType type) {
  const size_t slot = IndexOf(kCountedEventTypes, type);
  if (slot < kCountedEventTypes.size()) {
    event_log_entries_[slot].fetch_add(1, std::memory_order_relaxed);
  }
}

uint64_t AgentMetrics::EventLogEntries(EventType type) const {
  const size_t slot = IndexOf(kCountedEventTypes, type);
  if (slot == kCountedEventTypes.size()) return 0;
  return event_log_entries_[slot].load(std::memory_order_relaxed);
}

void AgentMetrics::SetStepOutcome(DailyStep step, StepOutcome outcome) {
  step_outcomes_[static_cast<size_t>(step)].store(outcome);
}

StepOutcome AgentMetrics::step_outcome(DailyStep step) const {
  return step_outcomes_[static_cast<size_t>(step)].load();
}

void AgentMetrics::UpdateChecked(const std::optional<std::string>& published_version,
                                 bool pending, bool refused) {
  const int64_t now = NowUnixMs();
  std::lock_guard lock(update_mu_);
  if (published_version) update_.published_version = *published_version;
  update_.pending = pending;
  update_.refused = refused;
  update_.checked_unix_ms = now;
}

UpdateCheckRecord AgentMetrics::update_check() const {
  std::lock_guard lock(update_mu_);
  return update_;
}

}  // namespace quarrin
