#include "platform/date_time.h"

#include <algorithm>
#include <cmath>

namespace quarrin {

namespace {

constexpr int64_t kMsPerDayInt = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

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
  const int64_t day = FloorDiv(total_ms, kMsPerDayInt);
  const int64_t ms_of_day = total_ms - day * kMsPerDayInt;
  return DateTime{static_cast<double>(day) + static_cast<double>(ms_of_day) / kMsPerDay};
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
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
  const int64_t day = FloorDiv(total, kMsPerDayInt);
  int64_t ms = total - day * kMsPerDayInt;
  CivilTime c;
  CivilFromDays(day - static_cast<int64_t>(kUnixEpochDays), &c.year, &c.month, &c.day);
  c.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  c.second = static_cast<int>(ms % 60);
  ms /= 60;
  c.minute = static_cast<int>(ms % 60);
  c.hour = static_cast<int>(ms / 60);
  return c;
}

int DayOfWeek(DateTime t) {
  // Day 0, 1899-12-30, was a Saturday.
  const int64_t day = FloorDiv(RoundToMs(t), kMsPerDayInt);
  return static_cast<int>(((day + 6) % 7 + 7) % 7);
}

double DatePart(DateTime t) { return std::floor(t.days); }

double TimePart(DateTime t) { return t.days - std::floor(t.days); }

DateTime LocalDateTimeFromUnixMs(int64_t unix_ms) {
  const int64_t secs = FloorDiv(unix_ms, 1000);
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
