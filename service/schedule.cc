#include "service/schedule.h"

#include <algorithm>
#include <cmath>

namespace quarrin {
namespace {

constexpr int64_t kDayMs = 86400000;

// Whole days and milliseconds into the day, rounded to the millisecond so
// that a time on a boundary is never taken for one just before it.
void Split(DateTime t, int64_t* day, int64_t* ms) {
  auto total = static_cast<int64_t>(std::llround(t.days * static_cast<double>(kDayMs)));
  *day = total / kDayMs;
  *ms = total % kDayMs;
}

DateTime FromDayMs(int64_t day, int64_t ms) {
  return DateTime{static_cast<double>(day) + static_cast<double>(ms) / static_cast<double>(kDayMs)};
}

bool StrictlyAfter(DateTime now, DateTime due) { return MillisecondsBetween(due, now) > 0; }

}  // namespace

DateTime NextSlotBoundary(DateTime t) {
  int64_t day, ms;
  Split(t, &day, &ms);
  int64_t k = ms / kSampleSlotMs;  // 0..287
  return FromDayMs(day, (k + 1) * kSampleSlotMs);
}

void Schedule::Start(DateTime now) {
  next_daily_ = AddMilliseconds(now, kFirstDailyDelayMs);
  next_sample_ = NextSlotBoundary(now);
}

bool Schedule::DailyDue(DateTime now) const { return StrictlyAfter(now, next_daily_); }

void Schedule::DailyDone(DateTime finished, int random_seconds) {
  int64_t day, ms;
  Split(finished, &day, &ms);
  next_daily_ = FromDayMs(day + 1, kDailyBaseMs + int64_t{random_seconds} * 1000);
}

bool Schedule::SampleDue(DateTime now) const { return StrictlyAfter(now, next_sample_); }

void Schedule::SampleDone(DateTime finished) { next_sample_ = NextSlotBoundary(finished); }

DateTime Schedule::NextWake() const {
  // One millisecond past the earlier due time: the first moment it counts.
  return AddMilliseconds(std::min(next_daily_, next_sample_), 1);
}

}  // namespace quarrin
