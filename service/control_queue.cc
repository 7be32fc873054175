#include "service/control_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace quarrin {

ControlQueue::ControlQueue() { event_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

ControlQueue::~ControlQueue() {
  if (event_fd_ >= 0) close(event_fd_);
}

void ControlQueue::Post(uint32_t code) {
  {
    std::lock_guard lock(mu_);
    codes_.push_back(code);
  }
  cv_.notify_all();
  uint64_t one = 1;
  if (event_fd_ >= 0) (void)!write(event_fd_, &one, sizeof one);
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

void ControlQueue::DrainEvent() {
  uint64_t value;
  if (event_fd_ >= 0) (void)!read(event_fd_, &value, sizeof value);
}

namespace {

int64_t FloorDivMs(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

// The local zone's offset from universal time at a moment, in milliseconds.
int64_t ZoneOffsetMs(int64_t unix_ms) {
  const time_t t = static_cast<time_t>(FloorDivMs(unix_ms));
  struct tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return 0;
  return static_cast<int64_t>(tm.tm_gmtoff) * 1000;
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

SystemLoopWaiter::SystemLoopWaiter(ControlQueue& queue, Clock& clock)
    : queue_(queue), clock_(clock) {
  timer_fd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
}

SystemLoopWaiter::~SystemLoopWaiter() {
  if (timer_fd_ >= 0) close(timer_fd_);
}

void SystemLoopWaiter::WaitUntil(DateTime deadline) {
  if (queue_.Pending()) return;
  constexpr int64_t kMaxWaitMs = 3600000;
  const int64_t local_wait_ms =
      std::clamp<int64_t>(MillisecondsBetween(clock_.Now(), deadline), 0, kMaxWaitMs);
  if (local_wait_ms == 0) return;

  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t now_ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  // A clock that runs faster than real time (a soak run's) has no zone
  // changes worth honouring: its milliseconds are simply shorter.
  const double speed = clock_.Speed();
  const int64_t wait_ms =
      speed == 1.0 ? RealWaitMs(now_ms, local_wait_ms)
                   : std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(local_wait_ms) / speed));
  int64_t due_ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec + wait_ms * 1000000;
  itimerspec due{};
  due.it_value.tv_sec = static_cast<time_t>(due_ns / 1000000000);
  due.it_value.tv_nsec = static_cast<long>(due_ns % 1000000000);
  bool timer_armed =
      timer_fd_ >= 0 &&
      timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &due, nullptr) == 0;

  pollfd fds[2] = {{queue_.event_fd(), POLLIN, 0}, {timer_fd_, POLLIN, 0}};
  int rc = poll(fds, timer_armed ? 2 : 1, timer_armed ? -1 : static_cast<int>(wait_ms));
  if (rc > 0 && (fds[1].revents & POLLIN)) {
    uint64_t expirations;
    (void)!read(timer_fd_, &expirations, sizeof expirations);
  }
  queue_.DrainEvent();
  if (timer_armed) {
    itimerspec off{};
    timerfd_settime(timer_fd_, 0, &off, nullptr);
  }
}

}  // namespace quarrin
