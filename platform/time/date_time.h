// Local wall-clock date-times as a day count: whole days since 1899-12-30
// 00:00 plus the elapsed fraction of the day. No time zone is attached; the
// conversions to and from the system clock use the local zone (TZ honoured).
#ifndef QUARRIN_PLATFORM_TIME_DATE_TIME_H_
#define QUARRIN_PLATFORM_TIME_DATE_TIME_H_

#include <compare>
#include <cstdint>
#include <ctime>

namespace quarrin {

struct DateTime {
  double days = 0.0;
  auto operator<=>(const DateTime&) const = default;
};

inline constexpr double kMsPerDay = 86400000.0;
inline constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 00:00

// Broken-down local time with milliseconds.
struct CivilTime {
  int year = 1899, month = 12, day = 30;  // month 1..12
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const CivilTime&) const = default;
};

// True when the day exists in the proleptic Gregorian calendar, years 1..9999.
bool IsValidDate(int year, int month, int day);

// The four-digit year of a two-digit one (0..99): the year in the hundred
// years that begin 50 years before reference_year.
int ExpandTwoDigitYear(int two_digit_year, int reference_year);

// Day count of a civil time (proleptic Gregorian); exact to the millisecond.
// REQUIRES: a valid date. Hours, minutes, seconds and milliseconds add up
// linearly, so a leap second (second 60) lands on the next minute.
DateTime EncodeDateTime(const CivilTime& c);
// Civil time of a day count, rounded to the nearest millisecond; a time that
// rounds up to midnight is 00:00:00.000 of the next day. A value outside the
// years 1..9999 gives the nearest end of that range, and NaN gives day 0.
CivilTime DecodeDateTime(DateTime t);
// Day of week of the (rounded) date, 0 = Sunday.
int DayOfWeek(DateTime t);

// The date (whole days) and the time-of-day fraction.
double DatePart(DateTime t);
double TimePart(DateTime t);

// Local time of a Unix time in milliseconds, with the zone offset in force
// at that instant; and back. A local time that occurs twice (clocks set
// back) or never (clocks set forward) is resolved the way mktime(3) does
// with tm_isdst = -1.
DateTime LocalDateTimeFromUnixMs(int64_t unix_ms);
int64_t UnixMsFromLocalDateTime(DateTime t);

// Milliseconds between two day counts (b - a), each rounded to the
// millisecond first.
int64_t MillisecondsBetween(DateTime a, DateTime b);
// t rounded to the millisecond, plus ms.
DateTime AddMilliseconds(DateTime t, int64_t ms);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_TIME_DATE_TIME_H_
