#include "service/schedule.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

DateTime At(int day, int h, int m, int s, int ms = 0) {
  return EncodeDateTime({2026, 12, day, h, m, s, ms});
}

TEST(NextSlotBoundary, IsTheNextFiveMinuteMarkOfTheLocalDay) {
  struct {
    DateTime t;
    DateTime expected;
  } cases[] = {
      {At(10, 10, 3, 20), At(10, 10, 5, 0)},
      {At(10, 10, 5, 0), At(10, 10, 10, 0)},       // on a boundary: the next one
      {At(10, 10, 4, 59, 999), At(10, 10, 5, 0)},
      {At(10, 23, 58, 30), At(11, 0, 0, 0)},       // last slot: next midnight
      {At(10, 0, 0, 0), At(10, 0, 5, 0)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MillisecondsBetween(NextSlotBoundary(c.t), c.expected), 0)
        << "from " << c.t.days;
  }
}

TEST(Schedule, StartedAt100320SamplesAfter1005AndRunsDailyAfter100520) {
  Schedule s;
  s.Start(At(10, 10, 3, 20));
  EXPECT_FALSE(s.SampleDue(At(10, 10, 5, 0)));  // exactly due is not yet due
  EXPECT_TRUE(s.SampleDue(At(10, 10, 5, 0, 1)));
  EXPECT_FALSE(s.DailyDue(At(10, 10, 5, 20)));
  EXPECT_TRUE(s.DailyDue(At(10, 10, 5, 20, 1)));

  s.SampleDone(At(10, 10, 5, 0, 100));
  EXPECT_EQ(MillisecondsBetween(s.next_sample_time(), At(10, 10, 10, 0)), 0);
}

TEST(Schedule, StartedJustBeforeMidnightSamplesAfterMidnight) {
  Schedule s;
  s.Start(At(10, 23, 58, 30));
  EXPECT_EQ(MillisecondsBetween(s.next_sample_time(), At(11, 0, 0, 0)), 0);
}

TEST(Schedule, DailyRunIsRescheduledForTheDayAfterItFinished) {
  Schedule s;
  s.Start(At(10, 0, 30, 0));
  EXPECT_EQ(MillisecondsBetween(s.next_daily_run(), At(10, 0, 32, 0)), 0);
  // Started after 00:30 the next run is on the following day, not today.
  s.DailyDone(At(10, 0, 32, 5), 0);
  EXPECT_EQ(MillisecondsBetween(s.next_daily_run(), At(11, 1, 0, 0)), 0);
  // A run that ends after midnight skips the day it ended on.
  s.DailyDone(At(12, 0, 0, 10), 21599);
  EXPECT_EQ(MillisecondsBetween(s.next_daily_run(), At(13, 6, 59, 59)), 0);
}

TEST(Schedule, LongSampleDoesNotCauseASecondOneInTheNextPass) {
  Schedule s;
  s.Start(At(10, 10, 3, 20));
  // The run began after 10:05 and took six minutes.
  s.SampleDone(At(10, 10, 11, 0));
  EXPECT_FALSE(s.SampleDue(At(10, 10, 11, 0, 100)));
  EXPECT_EQ(MillisecondsBetween(s.next_sample_time(), At(10, 10, 15, 0)), 0);
}

TEST(Schedule, NextWakeIsTheFirstMillisecondPastTheEarlierDueTime) {
  Schedule s;
  s.Start(At(10, 10, 3, 20));
  EXPECT_EQ(MillisecondsBetween(s.NextWake(), At(10, 10, 5, 0, 1)), 0);
}

}  // namespace
}  // namespace quarrin
