#include "platform/time/date_time.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/test_support.h"

namespace quarrin {
namespace {

std::string Show(const CivilTime& c) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return buf;
}

TEST(DateTimeTest, KnownDayCounts) {
  struct {
    CivilTime civil;
    double days;
  } cases[] = {
      {{1899, 12, 30}, 0.0},
      {{1900, 1, 1}, 2.0},
      {{1900, 3, 1}, 61.0},  // 1900 is no leap year
      {{1970, 1, 1}, kUnixEpochDays},
      {{1999, 12, 31}, 36525.0},
      {{2000, 3, 1}, 36586.0},  // 2000 is one
      {{2006, 1, 5, 12, 0, 0, 0}, 38722.5},
      {{2006, 1, 5, 18, 0, 0, 0}, 38722.75},
      {{9999, 12, 31}, 2958465.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeDateTime(c.civil).days, c.days) << Show(c.civil);
    EXPECT_EQ(DecodeDateTime(DateTime{c.days}), c.civil) << Show(c.civil);
  }
}

// Every millisecond of a time of day survives the round trip through the
// double, across the whole range of dates in use.
TEST(DateTimeTest, RoundTripIsExactToTheMillisecond) {
  std::mt19937 random(1899);
  std::uniform_int_distribution<int> year(1900, 2200), month(1, 12), day(1, 31), hour(0, 23),
      minute(0, 59), second(0, 59), ms(0, 999);
  for (int i = 0; i < 200000; ++i) {
    CivilTime c{year(random), month(random), day(random), hour(random),
                minute(random), second(random), ms(random)};
    if (!IsValidDate(c.year, c.month, c.day)) continue;
    ASSERT_EQ(DecodeDateTime(EncodeDateTime(c)), c) << Show(c);
  }
}

TEST(DateTimeTest, DecodeRoundsToTheNearestMillisecondWithCarry) {
  const double ms = 1.0 / kMsPerDay;
  const double new_year = EncodeDateTime({2000, 1, 1}).days;
  struct {
    double days;
    CivilTime expected;
  } cases[] = {
      {new_year - 0.4 * ms, {2000, 1, 1}},
      {new_year - 0.6 * ms, {1999, 12, 31, 23, 59, 59, 999}},
      {new_year + 0.4 * ms, {2000, 1, 1}},
      {new_year + 0.6 * ms, {2000, 1, 1, 0, 0, 0, 1}},
      {EncodeDateTime({2006, 1, 5, 12, 34, 59, 999}).days + 0.6 * ms, {2006, 1, 5, 12, 35, 0, 0}},
      {EncodeDateTime({2024, 2, 28, 23, 59, 59, 999}).days + 0.6 * ms, {2024, 2, 29}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeDateTime(DateTime{c.days}), c.expected) << Show(c.expected);
  }
  // Nonsense values stay within the calendar instead of overflowing.
  EXPECT_EQ(DecodeDateTime(DateTime{1e300}).year, 9999);
  EXPECT_EQ(DecodeDateTime(DateTime{-1e300}).year, 1);
  EXPECT_EQ(DecodeDateTime(DateTime{std::nan("")}), (CivilTime{1899, 12, 30}));
}

TEST(DateTimeTest, DayOfWeekAndParts) {
  EXPECT_EQ(DayOfWeek(DateTime{0.0}), 6);                         // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDateTime({2006, 1, 5, 23, 0})), 4);   // Thursday
  EXPECT_EQ(DayOfWeek(EncodeDateTime({2026, 12, 13})), 0);        // Sunday
  const DateTime t = EncodeDateTime({2006, 1, 5, 18, 0, 0, 0});
  EXPECT_EQ(DatePart(t), 38722.0);
  EXPECT_EQ(TimePart(t), 0.75);
}

TEST(DateTimeTest, ValidDates) {
  struct {
    int y, m, d;
    bool valid;
  } cases[] = {
      {2000, 2, 29, true},  {1900, 2, 29, false}, {2023, 2, 29, false}, {2024, 2, 29, true},
      {2024, 4, 30, true},  {2024, 4, 31, false}, {2024, 12, 31, true}, {2024, 13, 1, false},
      {2024, 0, 1, false},  {2024, 1, 0, false},  {0, 1, 1, false},     {10000, 1, 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidDate(c.y, c.m, c.d), c.valid) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(DateTimeTest, TwoDigitYearsFallInTheHundredYearsFromFiftyBefore) {
  struct {
    int two_digits, reference, expected;
  } cases[] = {
      {76, 2026, 1976}, {75, 2026, 2075}, {0, 2026, 2000}, {99, 2026, 1999},
      {50, 2000, 1950}, {49, 2000, 2049}, {0, 2050, 2000}, {99, 2050, 2099},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandTwoDigitYear(c.two_digits, c.reference), c.expected)
        << c.two_digits << " in " << c.reference;
  }
}

TEST(DateTimeTest, MillisecondArithmeticDoesNotDrift) {
  DateTime t = EncodeDateTime({2026, 1, 1});
  // A year of five-minute steps, as the disk sampler takes them.
  for (int i = 0; i < 365 * 288; ++i) t = AddMilliseconds(t, 300000);
  EXPECT_EQ(DecodeDateTime(t), (CivilTime{2027, 1, 1}));
  EXPECT_EQ(MillisecondsBetween(EncodeDateTime({2026, 1, 1}), t), 365LL * 86400000);
  EXPECT_EQ(DecodeDateTime(AddMilliseconds(EncodeDateTime({2026, 1, 1}), -1)),
            (CivilTime{2025, 12, 31, 23, 59, 59, 999}));
}

}  // namespace
}  // namespace quarrin
