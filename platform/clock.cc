#include "platform/clock.h"

#include <time.h>

namespace quarrin {

namespace {

int64_t ReadMs(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class LinuxClock final : public Clock {
 public:
  DateTime Now() override { return LocalDateTimeFromUnixMs(ReadMs(CLOCK_REALTIME)); }
  // CLOCK_BOOTTIME, unlike CLOCK_MONOTONIC, keeps counting while the machine
  // is suspended, as the time since start should.
  std::chrono::milliseconds SinceBoot() override {
    return std::chrono::milliseconds(ReadMs(CLOCK_BOOTTIME));
  }
};

}  // namespace

Clock& SystemClock() {
  static LinuxClock clock;
  return clock;
}

}  // namespace quarrin
