#include "platform/time/clock.h"

#include <windows.h>

namespace quarrin {

namespace {

// FILETIME counts 100 ns from 1601-01-01; Unix time from 1970-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000;

class WindowsClock final : public Clock {
 public:
  DateTime Now() override {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t ticks =
        (static_cast<int64_t>(now.dwHighDateTime) << 32) | static_cast<int64_t>(now.dwLowDateTime);
    return LocalDateTimeFromUnixMs((ticks - kUnixEpochIn100ns) / 10000);
  }
  // GetTickCount64 keeps counting while the machine sleeps, as the time
  // since start should, and is 64 bits wide: it does not wrap after 49 days.
  std::chrono::milliseconds SinceBoot() override {
    return std::chrono::milliseconds(GetTickCount64());
  }
};

}  // namespace

Clock& SystemClock() {
  static WindowsClock clock;
  return clock;
}

}  // namespace quarrin
