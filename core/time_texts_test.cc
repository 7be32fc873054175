#include "core/time_texts.h"

#include <gtest/gtest.h>

#include "platform/time/fake_clock.h"

namespace quarrin {
namespace {

RegionalSettings Separators(std::string date, std::string time) {
  RegionalSettings s;
  s.date_separator = std::move(date);
  s.time_separator = std::move(time);
  return s;
}

TEST(TimestampTextTest, FormatsWithTheRegionalSeparators) {
  FakeClock clock(EncodeDateTime({2026, 12, 10, 4, 35, 7, 123}));
  struct {
    DateTime t;
    RegionalSettings s;
    std::string_view expected;
  } cases[] = {
      {EncodeDateTime({2006, 1, 5, 13, 45, 7, 123}), {}, "05/01/06 13:45:07.123"},
      {EncodeDateTime({1999, 12, 31}), {}, "31/12/99 00:00:00.000"},
      {EncodeDateTime({2000, 1, 1, 9, 5, 3, 4}), Separators("-", "."), "01-01-00 09.05.03.004"},
      {EncodeDateTime({2106, 2, 7, 6, 28, 15, 0}), Separators("", ""), "070206 062815.000"},
      {DateTime{EncodeDateTime({2000, 1, 1}).days - 0.4 / kMsPerDay}, {}, "01/01/00 00:00:00.000"},
      {DateTime{0.0}, {}, "10/12/26 04:35:07.123"},  // 0 means now
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TimestampText(c.t, clock, c.s), c.expected) << c.expected;
  }
}

TEST(TimestampTextTest, ZeroIsTheCurrentTime) {
  const RegionalSettings s;
  FakeClock clock(EncodeDateTime({2026, 12, 10, 23, 59, 59, 999}));
  EXPECT_EQ(TimestampText(DateTime{0.0}, clock, s), TimestampText(clock.Now(), clock, s));
}

TEST(TimestampTextTest, ParsesWhatItWrote) {
  FakeClock clock;
  const DateTime reference = EncodeDateTime({2026, 6, 1});
  const RegionalSettings dots = Separators(".", ":");
  for (const CivilTime& c : std::initializer_list<CivilTime>{{2006, 1, 5, 13, 45, 7, 123},
                                                             {1976, 12, 31, 23, 59, 59, 999},
                                                             {2075, 2, 28, 0, 0, 0, 0},
                                                             {2024, 2, 29, 12, 0, 0, 1}}) {
    const std::string text = TimestampText(EncodeDateTime(c), clock, dots);
    DateTime back;
    ASSERT_TRUE(ParseTimestampText(text, dots, reference, &back)) << text;
    EXPECT_EQ(DecodeDateTime(back), c) << text;
  }
}

TEST(TimestampTextTest, RejectsWhatItCannotHaveWritten) {
  const RegionalSettings s;
  const DateTime reference = EncodeDateTime({2026, 6, 1});
  for (std::string_view text : {
           "05/01/06 13:45:07",        // no milliseconds
           "5/01/06 13:45:07.123",     // one-digit day
           "05/01/2006 13:45:07.123",  // four-digit year
           "05-01-06 13:45:07.123",    // other separator
           "05/01/06T13:45:07.123",    //
           "31/02/06 13:45:07.123",    // no such day
           "05/13/06 13:45:07.123",    //
           "05/01/06 24:00:00.000",    //
           "05/01/06 13:60:07.123",    //
           "05/01/06 13:45:60.123",    //
           "05/01/06 13:45:07.123 ",   // trailing text
           "05/01/06 13:45:07.1234",   //
           "",
       }) {
    DateTime out{-1.0};
    EXPECT_FALSE(ParseTimestampText(text, s, reference, &out)) << text;
    EXPECT_EQ(out.days, -1.0) << text;
  }
}

TEST(UptimeTextTest, WeeksDaysHoursMinutesSeconds) {
  struct {
    int64_t ms;
    std::string_view expected;
  } cases[] = {
      {0, "0w0d0h0m0s"},
      {999, "0w0d0h0m0s"},
      {((86400 + 2 * 3600 + 3 * 60 + 4) * 1000LL) + 567, "0w1d2h3m4s"},
      {604799999, "0w6d23h59m59s"},
      {604800000, "1w0d0h0m0s"},
      {3000000000, "4w6d17h20m0s"},
      {4294967296, "7w0d17h2m47s"},  // no wrap at 2^32
      {4294967296LL * 1000, "7101w3d6h28m16s"},
      {-5, "0w0d0h0m0s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UptimeText(std::chrono::milliseconds(c.ms)), c.expected) << c.ms;
  }
  FakeClock clock({}, std::chrono::milliseconds(604800000));
  EXPECT_EQ(UptimeText(clock), "1w0d0h0m0s");
}


}  // namespace
}  // namespace quarrin
