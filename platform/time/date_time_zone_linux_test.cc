// Local times in a zone set by TZ with its daylight-saving rules, as the GNU
// C library reads them. (Windows' C library knows no such rules: there the
// zone is the system's own.)
#include <gtest/gtest.h>

#include "platform/time/date_time.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(DateTimeTest, LocalTimeFollowsTheZoneInForceAtThatInstant) {
  // A rule-based zone needs no zone files on the machine.
  testing::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  struct {
    int64_t unix_ms;
    CivilTime local;
  } cases[] = {
      {1705320000123, {2024, 1, 15, 13, 0, 0, 123}},   // 12:00:00.123 UTC, winter
      {1721044800000, {2024, 7, 15, 14, 0, 0, 0}},     // 12:00 UTC, summer
      {1711846799999, {2024, 3, 31, 1, 59, 59, 999}},  // just before the change
      {1711846800000, {2024, 3, 31, 3, 0, 0, 0}},      // and at it
      {-500, {1970, 1, 1, 0, 59, 59, 500}},            // before the epoch
  };
  for (const auto& c : cases) {
    const DateTime local = LocalDateTimeFromUnixMs(c.unix_ms);
    EXPECT_EQ(DecodeDateTime(local), c.local) << c.unix_ms;
    EXPECT_EQ(UnixMsFromLocalDateTime(local), c.unix_ms) << c.unix_ms;
  }
  testing::ScopedEnv utc("TZ", "UTC0");
  EXPECT_EQ(DecodeDateTime(LocalDateTimeFromUnixMs(1705320000123)),
            (CivilTime{2024, 1, 15, 12, 0, 0, 123}));
}

}  // namespace
}  // namespace quarrin
