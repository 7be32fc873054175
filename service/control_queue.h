// Control requests on their way from the dispatcher thread to the service
// thread, and the waits of the service thread for them.
#ifndef QUARRIN_SERVICE_CONTROL_QUEUE_H_
#define QUARRIN_SERVICE_CONTROL_QUEUE_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/time/clock.h"
#include "platform/sync/wake_event.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
class ControlQueue {
 public:
  ControlQueue() = default;
  ControlQueue(const ControlQueue&) = delete;
  ControlQueue& operator=(const ControlQueue&) = delete;

  void Post(uint32_t code);
  std::optional<uint32_t> TryTake();
  bool Pending();
  // Blocks until a request is pending (it is not taken).
  void WaitForRequest();
  // Raised on every post.
  WakeEvent& wake() { return wake_; }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<uint32_t> codes_;
  WakeEvent wake_;
};

// How the main loop waits between passes.
class LoopWaiter {
 public:
  virtual ~LoopWaiter() = default;
  // Returns once the wall clock is past `deadline` or a control request is
  // pending; may return early.
  virtual void WaitUntil(DateTime deadline) = 0;
};

// How long to wait, in real milliseconds from the moment `now_unix_ms`, for
// the local clock to advance by `local_wait_ms` (> 0), in the local zone as
// the C library sees it. A forward change of the zone's offset in between
// (daylight saving starting) shortens the wait by as much, or to the moment
// of the change when the local time skips over the deadline; a backward one
// leaves the wait as it is, so the waiter wakes early and waits again.
int64_t RealWaitMs(int64_t now_unix_ms, int64_t local_wait_ms);

// The real waiter: the queue's wake event with the deadline's moment on the
// wall clock, which passes when the clock reaches it however the clock is
// set in between, just as comparing wall-clock times would find the deadline
// passed. Between runs an idle agent sleeps through; it still wakes once an
// hour, so that a zone reconfigured under it counts within the hour.
class SystemLoopWaiter final : public LoopWaiter {
 public:
  SystemLoopWaiter(ControlQueue& queue, Clock& clock) : queue_(queue), clock_(clock) {}
  void WaitUntil(DateTime deadline) override;

 private:
  ControlQueue& queue_;
  Clock& clock_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_CONTROL_QUEUE_H_
