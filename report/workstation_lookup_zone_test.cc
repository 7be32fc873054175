// The local time of the service desk's dates under a zone with summer time,
// set through TZ in the POSIX form, which only the Linux C library reads.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "platform/time/date_time.h"
#include "report/workstation_lookup.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(WorkstationLookupZoneTest, TheOffsetIsTheOneOfTheMomentOfConversion) {
  testing::ScopedEnv zone("TZ", "XST5XDT,M3.2.0,M11.1.0");
  const auto noon = [](std::chrono::month month) {
    using std::chrono::sys_days;
    return std::chrono::system_clock::to_time_t(
        sys_days{std::chrono::year{2026} / month / 1} + std::chrono::hours{12});
  };
  const std::time_t july = noon(std::chrono::July);
  const std::time_t january = noon(std::chrono::January);
  // 1970-01-02 00:00 UTC was in standard time; summer time rules the result
  // all the same when the conversion runs in July.
  EXPECT_EQ(DecodeDateTime(MillisecondsToLocalDateTime(86400000, july)),
            (CivilTime{1970, 1, 1, 20, 0, 0, 0}));
  EXPECT_EQ(DecodeDateTime(MillisecondsToLocalDateTime(86400000, january)),
            (CivilTime{1970, 1, 1, 19, 0, 0, 0}));
  EXPECT_EQ(MillisecondsToLocalDateTime(0, july).days, 0.0);
}

}  // namespace
}  // namespace quarrin
