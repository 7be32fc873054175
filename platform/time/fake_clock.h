// A Clock that only moves when a test moves it.
#ifndef QUARRIN_PLATFORM_TIME_FAKE_CLOCK_H_
#define QUARRIN_PLATFORM_TIME_FAKE_CLOCK_H_

#include <mutex>

#include "platform/time/clock.h"

namespace quarrin {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(DateTime now = {}, std::chrono::milliseconds since_boot = {})
      : now_(now), since_boot_(since_boot) {}

  DateTime Now() override {
    std::lock_guard lock(mu_);
    return now_;
  }
  std::chrono::milliseconds SinceBoot() override {
    std::lock_guard lock(mu_);
    return since_boot_;
  }
  void Set(DateTime now) {
    std::lock_guard lock(mu_);
    now_ = now;
  }
  void SetSinceBoot(std::chrono::milliseconds since_boot) {
    std::lock_guard lock(mu_);
    since_boot_ = since_boot;
  }
  // Moves both the wall clock and the time since boot forward.
  void Advance(std::chrono::milliseconds d) {
    std::lock_guard lock(mu_);
    now_ = AddMilliseconds(now_, d.count());
    since_boot_ += d;
  }

 private:
  std::mutex mu_;
  DateTime now_;
  std::chrono::milliseconds since_boot_;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_TIME_FAKE_CLOCK_H_
