// Time sources. Wall-clock date-times (DateTime) and the monotonic time since
// boot are different types; the schedule reads both through a Clock so tests
// can run it on a fake one.
#ifndef QUARRIN_PLATFORM_CLOCK_H_
#define QUARRIN_PLATFORM_CLOCK_H_

#include <chrono>

#include "platform/date_time.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current local wall-clock time, millisecond resolution.
  virtual DateTime Now() = 0;
  // Time since the system started, 64-bit (never wraps in practice).
  virtual std::chrono::milliseconds SinceBoot() = 0;
};

// The real clock: clock_gettime(CLOCK_REALTIME) in the local zone and
// CLOCK_BOOTTIME.
Clock& SystemClock();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_CLOCK_H_
