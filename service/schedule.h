// When the main loop's periodic runs fall due. All times are local
// wall-clock day counts; a run is due only when the clock is strictly past
// its due time, compared to the millisecond.
#ifndef QUARRIN_SERVICE_SCHEDULE_H_
#define QUARRIN_SERVICE_SCHEDULE_H_

#include <cstdint>

#include "platform/time/date_time.h"

namespace quarrin {

inline constexpr int64_t kFirstDailyDelayMs = 2 * 60 * 1000;
inline constexpr int64_t kSampleSlotMs = 5 * 60 * 1000;
inline constexpr int64_t kDailyBaseMs = 60 * 60 * 1000;  // 01:00
inline constexpr int kDailyRandomRangeSeconds = 21600;  // 01:00:00 .. 06:59:59

// The first five-minute boundary of the local day strictly after t.
DateTime NextSlotBoundary(DateTime t);

class Schedule {
 public:
  // The first daily run two minutes after start; the first sample at the
  // next slot boundary.
  void Start(DateTime now);

  bool DailyDue(DateTime now) const;
  // The next daily run: `random_seconds` (0..21599) after 01:00 of the day
  // after the one on which the run finished.
  void DailyDone(DateTime finished, int random_seconds);

  bool SampleDue(DateTime now) const;
  // The next sample: the slot boundary after the moment the run finished.
  void SampleDone(DateTime finished);

  // The earliest moment at which a run can fall due.
  DateTime NextWake() const;

  DateTime next_daily_run() const { return next_daily_; }
  DateTime next_sample_time() const { return next_sample_; }

 private:
  DateTime next_daily_;
  DateTime next_sample_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_SCHEDULE_H_
