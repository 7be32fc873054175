#include "platform/time/clock.h"

#include <time.h>

#include <cstdint>
#include <cstdlib>

namespace quarrin {

namespace {

int64_t ReadMs(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// QUARRIN_CLOCK_SPEED, or 1 when it is unset or out of range.
double SpeedFromEnvironment() {
  const char* text = std::getenv("QUARRIN_CLOCK_SPEED");
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  const double speed = std::strtod(text, &end);
  return *end == '\0' && speed >= 1.0 && speed <= 100000.0 ? speed : 1.0;
}

class LinuxClock final : public Clock {
 public:
  explicit LinuxClock(double speed)
      : speed_(speed), real_start_(ReadMs(CLOCK_REALTIME)), boot_start_(ReadMs(CLOCK_BOOTTIME)) {}

  DateTime Now() override { return LocalDateTimeFromUnixMs(Scaled(CLOCK_REALTIME, real_start_)); }
  // CLOCK_BOOTTIME, unlike CLOCK_MONOTONIC, keeps counting while the machine
  // is suspended, as the time since start should.
  std::chrono::milliseconds SinceBoot() override {
    return std::chrono::milliseconds(Scaled(CLOCK_BOOTTIME, boot_start_));
  }
  double Speed() override { return speed_; }

 private:
  int64_t Scaled(clockid_t id, int64_t start) const {
    const int64_t now = ReadMs(id);
    if (speed_ == 1.0) return now;
    return start + static_cast<int64_t>(static_cast<double>(now - start) * speed_);
  }

  const double speed_;
  const int64_t real_start_;
  const int64_t boot_start_;
};

}  // namespace

Clock& SystemClock() {
  static LinuxClock clock(SpeedFromEnvironment());
  return clock;
}

}  // namespace quarrin
