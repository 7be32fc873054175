// The system clock of the running Windows machine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/time/clock.h"
#include "platform/time/date_time.h"

namespace quarrin {
namespace {

TEST(WindowsClockTest, NowIsTheLocalTimeAndSinceBootCounts) {
  const int64_t unix_ms = static_cast<int64_t>(std::time(nullptr)) * 1000;
  const int64_t now_ms = UnixMsFromLocalDateTime(SystemClock().Now());
  EXPECT_LT(std::abs(now_ms - unix_ms), 2000);

  const std::chrono::milliseconds before = SystemClock().SinceBoot();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::chrono::milliseconds after = SystemClock().SinceBoot();
  EXPECT_GT(before.count(), 0);
  EXPECT_GE((after - before).count(), 40);
}

}  // namespace
}  // namespace quarrin
