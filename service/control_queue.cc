#include "service/control_queue.h"

#include <algorithm>
#include <chrono>

namespace quarrin {

void ControlQueue::Post(uint32_t code) {
  {
    std::lock_guard lock(mu_);
    codes_.push_back(code);
  }
  cv_.notify_all();
  wake_.Raise();
}

std::optional<uint32_t> ControlQueue::TryTake() {
  std::lock_guard lock(mu_);
  if (codes_.empty()) return std::nullopt;
  uint32_t code = codes_.front();
  codes_.pop_front();
  return code;
}

bool ControlQueue::Pending() {
  std::lock_guard lock(mu_);
  return !codes_.empty();
}

void ControlQueue::WaitForRequest() {
  std::unique_lock lock(mu_);
  cv_.wait(lock, [this] { return !codes_.empty(); });
}

namespace {

int64_t FloorDivMs(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

// The local zone's offset from universal time at a moment, in milliseconds:
// the local time less the universal one, both whole seconds.
int64_t ZoneOffsetMs(int64_t unix_ms) {
  const int64_t second_ms = FloorDivMs(unix_ms) * 1000;
  return MillisecondsBetween(AddMilliseconds(DateTime{kUnixEpochDays}, second_ms),
                             LocalDateTimeFromUnixMs(second_ms));
}

}  // namespace

int64_t RealWaitMs(int64_t now_unix_ms, int64_t local_wait_ms) {
  const int64_t before = ZoneOffsetMs(now_unix_ms);
  const int64_t shift = ZoneOffsetMs(now_unix_ms + local_wait_ms) - before;
  if (shift <= 0) return local_wait_ms;
  // The first moment of the new offset: after it the local clock is `shift`
  // ahead, and the jump itself may carry it past the deadline.
  int64_t low = 0, high = local_wait_ms;  // offset unchanged at low, changed at high
  while (high - low > 1) {
    const int64_t mid = low + (high - low) / 2;
    (ZoneOffsetMs(now_unix_ms + mid) == before ? low : high) = mid;
  }
  return std::max(high, local_wait_ms - shift);
}

void SystemLoopWaiter::WaitUntil(DateTime deadline) {
  if (queue_.Pending()) return;
  constexpr int64_t kMaxWaitMs = 3600000;
  const int64_t local_wait_ms =
      std::clamp<int64_t>(MillisecondsBetween(clock_.Now(), deadline), 0, kMaxWaitMs);
  if (local_wait_ms == 0) return;

  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  // A clock that runs faster than real time (a soak run's) has no zone
  // changes worth honouring: its milliseconds are simply shorter.
  const double speed = clock_.Speed();
  const int64_t wait_ms =
      speed == 1.0 ? RealWaitMs(now_ms, local_wait_ms)
                   : std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(local_wait_ms) / speed));
  queue_.wake().WaitRaisedOrDue(wait_ms);
}

}  // namespace quarrin
