// Waking a waiting thread: one thread raises the event, another waits for it
// or for a moment on the wall clock, whichever comes first.
#ifndef QUARRIN_PLATFORM_SYNC_WAKE_EVENT_H_
#define QUARRIN_PLATFORM_SYNC_WAKE_EVENT_H_

#include <cstdint>

namespace quarrin {

// Raise is safe from any thread; one thread waits at a time.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // A raise that nobody waits for yet is kept for the next wait.
  void Raise();

  // Returns once the event was raised, or once the wall clock reaches the
  // moment `wait_ms` (> 0) from now; may return early. The moment is fixed
  // on the wall clock, so a clock set in between counts as it would for
  // a comparison of wall-clock times. Every raise made up to the return
  // is used up.
  void WaitRaisedOrDue(int64_t wait_ms);

 private:
  // An eventfd and a timerfd on Linux; an event and a waitable timer on
  // Windows.
  intptr_t raised_;
  intptr_t timer_;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SYNC_WAKE_EVENT_H_
