// Time sources. Wall-clock date-times (DateTime) and the monotonic time since
// boot are different types; the schedule reads both through a Clock so tests
// can run it on a fake one.
#ifndef QUARRIN_PLATFORM_TIME_CLOCK_H_
#define QUARRIN_PLATFORM_TIME_CLOCK_H_

#include <chrono>

#include "platform/time/date_time.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current local wall-clock time, millisecond resolution.
  virtual DateTime Now() = 0;
  // Time since the system started, 64-bit (never wraps in practice).
  virtual std::chrono::milliseconds SinceBoot() = 0;
  // How many times faster than real time the clock runs, so that a waiter
  // can turn the clock's milliseconds into real ones.
  virtual double Speed() { return 1.0; }
};

// The real clock: clock_gettime(CLOCK_REALTIME) in the local zone and
// CLOCK_BOOTTIME. For soak runs only, the environment variable
// QUARRIN_CLOCK_SPEED (a factor from 1 to 100000, read on first use) makes
// both run that many times faster than real time from that moment on, so
// that a five-minute schedule comes round in a fraction of a second.
Clock& SystemClock();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_TIME_CLOCK_H_
