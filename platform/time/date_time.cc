#include "platform/time/date_time.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quarrin {

namespace {

namespace chrono = std::chrono;

constexpr int64_t kMsPerDayInt = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date, and back. Months and
// days past their ends carry over, counted from the year's first day.
int64_t DaysFromCivil(int y, int m, int d) {
  const chrono::year_month month = chrono::year{y} / chrono::January + chrono::months{m - 1};
  return (chrono::sys_days{month / 1} + chrono::days{d - 1}).time_since_epoch().count();
}

chrono::year_month_day CivilFromDays(int64_t days_since_1970) {
  return chrono::year_month_day{chrono::sys_days{chrono::days{days_since_1970}}};
}

// Whole days in total_ms, rounded towards minus infinity.
int64_t FloorDays(int64_t total_ms) {
  return chrono::floor<chrono::days>(chrono::milliseconds{total_ms}).count();
}

// Day counts of 0001-01-01 00:00 and 10000-01-01 00:00.
constexpr double kFirstDay = -693593.0;
constexpr double kEndDay = 2958466.0;

// The day count in whole milliseconds, kept to the supported years so that
// nothing downstream can overflow.
int64_t RoundToMs(DateTime t) {
  double days = std::isnan(t.days) ? 0.0 : std::clamp(t.days, kFirstDay, kEndDay - 1.0 / kMsPerDay);
  return std::llround(days * kMsPerDay);
}

DateTime FromMs(int64_t total_ms) {
  const int64_t day = FloorDays(total_ms);
  const int64_t ms_of_day = total_ms - day * kMsPerDayInt;
  return DateTime{static_cast<double>(day) + static_cast<double>(ms_of_day) / kMsPerDay};
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || day < 1) return false;
  return chrono::year_month_day{chrono::year{year}, chrono::month{static_cast<unsigned>(month)},
                                chrono::day{static_cast<unsigned>(day)}}
      .ok();
}

int ExpandTwoDigitYear(int two_digit_year, int reference_year) {
  const int first = reference_year - 50;
  int year = first - ((first % 100) + 100) % 100 + two_digit_year;
  if (year < first) year += 100;
  return year;
}

DateTime EncodeDateTime(const CivilTime& c) {
  const int64_t day = DaysFromCivil(c.year, c.month, c.day) + static_cast<int64_t>(kUnixEpochDays);
  const int64_t ms = ((static_cast<int64_t>(c.hour) * 60 + c.minute) * 60 + c.second) * 1000 +
                     c.millisecond;
  // Date plus time fraction, the way the day count has always been formed.
  return DateTime{static_cast<double>(day) + static_cast<double>(ms) / kMsPerDay};
}

CivilTime DecodeDateTime(DateTime t) {
  const int64_t total = RoundToMs(t);
  const int64_t day = FloorDays(total);
  int64_t ms = total - day * kMsPerDayInt;
  const chrono::year_month_day date = CivilFromDays(day - static_cast<int64_t>(kUnixEpochDays));
  CivilTime c;
  c.year = static_cast<int>(date.year());
  c.month = static_cast<int>(static_cast<unsigned>(date.month()));
  c.day = static_cast<int>(static_cast<unsigned>(date.day()));
  c.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  c.second = static_cast<int>(ms % 60);
  ms /= 60;
  c.minute = static_cast<int>(ms % 60);
  c.hour = static_cast<int>(ms / 60);
  return c;
}

int DayOfWeek(DateTime t) {
  const int64_t day = FloorDays(RoundToMs(t)) - static_cast<int64_t>(kUnixEpochDays);
  return static_cast<int>(chrono::weekday{chrono::sys_days{chrono::days{day}}}.c_encoding());
}

double DatePart(DateTime t) { return std::floor(t.days); }

double TimePart(DateTime t) { return t.days - std::floor(t.days); }

DateTime LocalDateTimeFromUnixMs(int64_t unix_ms) {
  const int64_t secs = chrono::floor<chrono::seconds>(chrono::milliseconds{unix_ms}).count();
  const time_t tt = static_cast<time_t>(secs);
  // localtime_r, unlike localtime and mktime, need not look at TZ again;
  // tzset makes a changed zone count from the next conversion on.
  tzset();
  struct tm tm {};
  if (localtime_r(&tt, &tm) == nullptr) {
    // Beyond what the C library converts: take it as universal time.
    return AddMilliseconds(DateTime{kUnixEpochDays}, unix_ms);
  }
  CivilTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec;
  c.millisecond = static_cast<int>(unix_ms - secs * 1000);
  return EncodeDateTime(c);
}

int64_t UnixMsFromLocalDateTime(DateTime t) {
  const CivilTime c = DecodeDateTime(t);
  struct tm tm {};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  const time_t secs = mktime(&tm);
  return static_cast<int64_t>(secs) * 1000 + c.millisecond;
}

int64_t MillisecondsBetween(DateTime a, DateTime b) { return RoundToMs(b) - RoundToMs(a); }

DateTime AddMilliseconds(DateTime t, int64_t ms) { return FromMs(RoundToMs(t) + ms); }

}  // namespace quarrin
