#include "platform/sync/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <ctime>

namespace quarrin {
namespace {

int Fd(intptr_t value) { return static_cast<int>(value); }

}  // namespace

WakeEvent::WakeEvent()
    : raised_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      // Absolute on CLOCK_REALTIME: it fires when the clock reaches the
      // moment however the clock is set in between. Not cancelling it on
      // every clock set keeps a machine whose clock is stepped often (some
      // virtual machines step it several times a second) from waking the
      // waiter as often.
      timer_(timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
  if (raised_ >= 0) close(Fd(raised_));
  if (timer_ >= 0) close(Fd(timer_));
}

void WakeEvent::Raise() {
  uint64_t one = 1;
  if (raised_ >= 0) (void)!write(Fd(raised_), &one, sizeof one);
}

void WakeEvent::WaitRaisedOrDue(int64_t wait_ms) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t due_ns =
      static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec + wait_ms * 1000000;
  itimerspec due{};
  due.it_value.tv_sec = static_cast<time_t>(due_ns / 1000000000);
  due.it_value.tv_nsec = static_cast<long>(due_ns % 1000000000);
  const bool timer_armed =
      timer_ >= 0 && timerfd_settime(Fd(timer_), TFD_TIMER_ABSTIME, &due, nullptr) == 0;

  pollfd fds[2] = {{Fd(raised_), POLLIN, 0}, {Fd(timer_), POLLIN, 0}};
  int rc = poll(fds, timer_armed ? 2 : 1, timer_armed ? -1 : static_cast<int>(wait_ms));
  if (rc > 0 && (fds[1].revents & POLLIN)) {
    uint64_t expirations;
    (void)!read(Fd(timer_), &expirations, sizeof expirations);
  }
  uint64_t value;
  if (raised_ >= 0) (void)!read(Fd(raised_), &value, sizeof value);
  if (timer_armed) {
    itimerspec off{};
    timerfd_settime(Fd(timer_), 0, &off, nullptr);
  }
}

}  // namespace quarrin
