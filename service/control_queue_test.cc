#include "service/control_queue.h"

#include <gtest/gtest.h>

#include <ctime>

#include "tests/test_support.h"

namespace quarrin {
namespace {

constexpr int64_t kMinute = 60000;

TEST(RealWaitTest, DaylightSavingChangesBringTheWakeUpNoLaterThanTheLocalDeadline) {
  struct Case {
    const char* name;
    int64_t now_unix_ms;
    int64_t local_wait_ms;
    int64_t real_wait_ms;
  } cases[] = {
      {"no change in between", 1780315200000, 5 * kMinute, 5 * kMinute},
      // 01:59 CET, deadline 02:30, a local time that does not exist: the
      // jump to 03:00 at 01:00 UTC carries the clock past it.
      {"deadline skipped by the jump", 1774745940000, 31 * kMinute, 1 * kMinute},
      // 01:50 CET, deadline 03:10 CEST: 20 real minutes.
      {"deadline after the jump", 1774745400000, 80 * kMinute, 20 * kMinute},
      // 02:50 CEST, deadline 03:00: the clock goes back at 01:00 UTC, so
      // ten real minutes are early and the loop waits again.
      {"clock set back", 1792889400000, 10 * kMinute, 10 * kMinute},
  };
  {
    // Central European time: daylight saving from 01:00 UTC on the last
    // Sunday of March (29 March 2026) to 01:00 UTC on the last Sunday of
    // October (25 October 2026).
    testing::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    for (const Case& c : cases) {
      EXPECT_EQ(RealWaitMs(c.now_unix_ms, c.local_wait_ms), c.real_wait_ms) << c.name;
    }
  }
  tzset();
}

}  // namespace
}  // namespace quarrin
