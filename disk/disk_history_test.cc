#include "disk/disk_history.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "core/time_texts.h"
#include "platform/time/fake_clock.h"
#include "platform/files/fixed_drive_double.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"
#include "tests/value_order.h"

namespace quarrin {
namespace {

DateTime At(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0) {
  return EncodeDateTime(CivilTime{year, month, day, hour, minute, second, ms});
}

// A clock that gives the queued times one reading after another and then
// keeps the last one.
class SteppingClock final : public Clock {
 public:
  explicit SteppingClock(std::deque<DateTime> times) : times_(std::move(times)) {}
  DateTime Now() override {
    std::lock_guard lock(mu_);
    DateTime t = times_.front();
    if (times_.size() > 1) times_.pop_front();
    return t;
  }
  std::chrono::milliseconds SinceBoot() override { return {}; }

 private:
  std::mutex mu_;
  std::deque<DateTime> times_;
};

class DiskHistoryTest : public ::testing::Test {
 protected:
  // The store's own form of a series key: no leading "\".
  static std::string StorePath(SeriesPeriod period) { return SeriesKeyPath(period).substr(1); }

  std::vector<NamedValue> Series(SeriesPeriod period) {
    return store_->Values(RootKey::kLocalMachine, StorePath(period));
  }
  bool HasSeries(SeriesPeriod period) {
    return store_->KeyExists(RootKey::kLocalMachine, StorePath(period));
  }
  std::string Stamp(DateTime t) { return TimestampText(t, clock_, settings_); }

  void Put(SeriesPeriod period, const std::string& name, const RegValue& value) {
    store_->CreateKey(RootKey::kLocalMachine, StorePath(period));
    ASSERT_TRUE(store_->SetValue(RootKey::kLocalMachine, StorePath(period), name, value));
  }
  void PutSample(DateTime t, double fraction) {
    Put(SeriesPeriod::kDay, Stamp(t), EncodeFloat(fraction));
  }
  double ValueOf(SeriesPeriod period, const std::string& name) {
    std::optional<RegValue> v = store_->GetValue(RootKey::kLocalMachine, StorePath(period), name);
    double x = std::nan("");
    EXPECT_TRUE(v && DecodeFloat(*v, &x)) << name;
    return x;
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = OpenScratchRegistryStore(dir_.path());
  FakeClock clock_;
  RegionalSettings settings_;
};

TEST_F(DiskHistoryTest, SampleIsTheUsedFractionNamedByItsTimeStamp) {
  clock_.Set(At(2025, 12, 9, 14, 5, 0, 93));
  FixedDrive disk(1000, 250);
  SampleDisk(*store_, clock_, settings_, disk);
  const std::vector<NamedValue> day = Series(SeriesPeriod::kDay);
  ASSERT_EQ(day.size(), 1u);
  EXPECT_EQ(day[0].name, "09/12/25 14:05:00.093");
  EXPECT_EQ(day[0].value.type, ValueType::kBinary);
  EXPECT_EQ(day[0].value.data.size(), 8u);
  EXPECT_EQ(ValueOf(SeriesPeriod::kDay, day[0].name), 0.75);
  EXPECT_EQ(SeriesKeyPath(SeriesPeriod::kDay),
            "\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc\\C_Drive(Day)");
}

TEST_F(DiskHistoryTest, FailedDriveQueryStoresNegativeZero) {
  clock_.Set(At(2025, 12, 9, 14, 5));
  FixedDrive broken(0, 0, /*ok=*/false);
  SampleDisk(*store_, clock_, settings_, broken);
  const double v = ValueOf(SeriesPeriod::kDay, "09/12/25 14:05:00.000");
  EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(std::signbit(v));
}

TEST_F(DiskHistoryTest, PruningKeepsTwentyFiveHoursMeasuredFromASecondReading) {
  const DateTime sampled = At(2025, 12, 9, 14, 5, 0, 93);
  const DateTime pruned = At(2025, 12, 9, 14, 5, 0, 400);  // the clock read again
  const DateTime cutoff = AddMilliseconds(pruned, -25 * 3600 * 1000);
  PutSample(AddMilliseconds(cutoff, -1), 0.1);     // a millisecond too old
  PutSample(cutoff, 0.2);                           // exactly 25 hours: stays
  PutSample(AddMilliseconds(cutoff, -307), 0.3);  // older than 25 h by the first reading
  PutSample(At(2025, 12, 9, 14, 0), 0.4);
  PutSample(At(2025, 12, 9, 15, 0), 0.5);  // stamped in the future: stays
  SteppingClock clock({sampled, pruned});
  FixedDrive disk(100, 50);
  SampleDisk(*store_, clock, settings_, disk);
  std::vector<std::string> names;
  for (const NamedValue& v : Series(SeriesPeriod::kDay)) names.push_back(v.name);
  EXPECT_THAT(names, testing::NamesInCreationOrder(
                         *store_, {Stamp(cutoff), "09/12/25 14:00:00.000", "09/12/25 15:00:00.000",
                                   "09/12/25 14:05:00.093"}));
}

TEST_F(DiskHistoryTest, DayNamesThatAreNotTimesAreDeletedAndCounted) {
  clock_.Set(At(2025, 12, 9, 14, 5));
  PutSample(At(2025, 12, 9, 13, 0), 0.1);
  Put(SeriesPeriod::kDay, "not a time", EncodeFloat(0.2));
  Put(SeriesPeriod::kDay, "32/12/25 12:00:00.000", EncodeFloat(0.2));
  PutSample(At(2025, 12, 1, 0, 0), 0.3);  // old
  FixedDrive disk(100, 50);
  EXPECT_EQ(SampleDisk(*store_, clock_, settings_, disk), 2u);
  std::vector<std::string> names;
  for (const NamedValue& v : Series(SeriesPeriod::kDay)) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"09/12/25 13:00:00.000", "09/12/25 14:05:00.000"}));
  EXPECT_EQ(SampleDisk(*store_, clock_, settings_, disk), 0u);
}

TEST_F(DiskHistoryTest, ChangedSeparatorsKeepTheSamplesWrittenBefore) {
  FixedDrive disk(100, 50);
  clock_.Set(At(2025, 12, 9, 14, 5));
  SampleDisk(*store_, clock_, settings_, disk);
  RegionalSettings dots = settings_;
  dots.date_separator = ".";
  dots.time_separator = "-";
  clock_.Set(At(2025, 12, 9, 14, 10));
  EXPECT_EQ(SampleDisk(*store_, clock_, dots, disk), 0u);
  std::vector<std::string> names;
  for (const NamedValue& v : Series(SeriesPeriod::kDay)) names.push_back(v.name);
  EXPECT_THAT(names, testing::NamesInCreationOrder(
                         *store_, {"09/12/25 14:05:00.000", "09.12.25 14-10-00.000"}));
  // Both count in the averages.
  PutSample(At(2025, 12, 9, 14, 0), 100);  // not inside the window
  RollUp(*store_, At(2025, 12, 9, 14, 30), dots);
  EXPECT_EQ(ValueOf(SeriesPeriod::kWeek, "09.12.2025 14-30-00"), 0.5);
  // Back to the first settings: the older sample leaves by age, not as
  // unreadable, and the other stays.
  clock_.Set(At(2025, 12, 10, 15, 7));
  EXPECT_EQ(SampleDisk(*store_, clock_, settings_, disk), 0u);
  names.clear();
  for (const NamedValue& v : Series(SeriesPeriod::kDay)) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"09.12.25 14-10-00.000", "10/12/25 15:07:00.000"}));
}

TEST_F(DiskHistoryTest, RollUpWritesOnlyTheSeriesDueAtItsMinute) {
  struct Case {
    int hour, minute;
    bool week, month, year;
  } cases[] = {
      {12, 5, false, false, false}, {12, 30, true, false, false}, {13, 0, true, false, false},
      {14, 0, true, true, false},   {2, 0, true, true, false},    {0, 0, true, true, true},
      {0, 30, true, false, false},  {12, 31, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute));
    for (SeriesPeriod p : {SeriesPeriod::kDay, SeriesPeriod::kWeek, SeriesPeriod::kMonth,
                           SeriesPeriod::kYear}) {
      store_->DeleteKey(RootKey::kLocalMachine, StorePath(p));
    }
    const DateTime t = At(2025, 12, 9, c.hour, c.minute, 0, 40);
    PutSample(AddMilliseconds(t, -30), 0.5);
    clock_.Set(t);
    RollUp(*store_, clock_.Now(), settings_);
    EXPECT_EQ(Series(SeriesPeriod::kWeek).size(), c.week ? 1u : 0u);
    EXPECT_EQ(Series(SeriesPeriod::kMonth).size(), c.month ? 1u : 0u);
    EXPECT_EQ(Series(SeriesPeriod::kYear).size(), c.year ? 1u : 0u);
  }
}

TEST_F(DiskHistoryTest, ThirtyMinuteAverageCoversTheSamplesStrictlyInsideItsWindow) {
  // Samples 50 ms after each boundary from 12:00 to 12:30, worth 1 to 7,
  // and one exactly at 12:00 worth 100: the roll-up of the 12:30 slot
  // starts its window at 12:00:00.000, whenever it runs.
  for (int k = 0; k <= 6; ++k) PutSample(At(2025, 12, 9, 12, 5 * k, 0, 50), k + 1);
  PutSample(At(2025, 12, 9, 12, 0), 100);
  RollUp(*store_, At(2025, 12, 9, 12, 30), settings_);
  EXPECT_EQ(ValueOf(SeriesPeriod::kWeek, "09/12/2025 12:30:00"), 4.0);
}

TEST_F(DiskHistoryTest, MidnightRollUpsAverageTheirWindowsUnderTheDateAlone) {
  // A sample every five minutes for 26 hours up to midnight, each worth its
  // number of hours before midnight, rounded up.
  const DateTime midnight = At(2025, 12, 10, 0, 0);
  double sum2h = 0, sum1d = 0;
  int n2h = 0, n1d = 0;
  store_->Atomically([&](RegistryStore& s) {
    s.CreateKey(RootKey::kLocalMachine, StorePath(SeriesPeriod::kDay));
    for (int k = 0; k < 26 * 12; ++k) {
      const DateTime t = AddMilliseconds(midnight, -5 * 60 * 1000 * k + 20);
      const double v = std::ceil(k / 12.0);
      s.SetValue(RootKey::kLocalMachine, StorePath(SeriesPeriod::kDay), Stamp(t), EncodeFloat(v));
      if (k < 24) sum2h += v, ++n2h;
      if (k < 288) sum1d += v, ++n1d;
    }
  });
  clock_.Set(AddMilliseconds(midnight, 40));
  RollUp(*store_, clock_.Now(), settings_);
  EXPECT_EQ(ValueOf(SeriesPeriod::kMonth, "10/12/2025"), sum2h / n2h);
  EXPECT_EQ(ValueOf(SeriesPeriod::kYear, "10/12/2025"), sum1d / n1d);
  ASSERT_EQ(Series(SeriesPeriod::kWeek).size(), 1u);
  EXPECT_EQ(Series(SeriesPeriod::kWeek)[0].name, "10/12/2025");

  clock_.Set(At(2025, 12, 10, 0, 0, 1));
  RollUp(*store_, clock_.Now(), settings_);
  EXPECT_EQ(Series(SeriesPeriod::kWeek)[1].name, "10/12/2025 00:00:01");
}

TEST_F(DiskHistoryTest, RollUpWithoutSamplesWritesNothing) {
  clock_.Set(At(2025, 12, 10, 0, 0));
  RollUp(*store_, clock_.Now(), settings_);  // no day series at all
  store_->CreateKey(RootKey::kLocalMachine, StorePath(SeriesPeriod::kDay));
  PutSample(At(2025, 12, 8, 0, 0), 0.5);  // older than every window
  RollUp(*store_, clock_.Now(), settings_);
  EXPECT_FALSE(HasSeries(SeriesPeriod::kWeek));
  EXPECT_FALSE(HasSeries(SeriesPeriod::kMonth));
  EXPECT_FALSE(HasSeries(SeriesPeriod::kYear));
}

TEST_F(DiskHistoryTest, BadDayValuesFailTheRollUpBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    RegValue value;
    const char* message;
  } cases[] = {
      {"09/12/25 12:20:00.000", RegValue{ValueType::kBinary, "1234"},
       "Invalid data type for '09/12/25 12:20:00.000'"},
      {"09/12/25 12:20:00.000", RegValue{ValueType::kBinary, std::string(12, 'x')},
       "Failed to get data for '09/12/25 12:20:00.000'"},
      {"09/12/25 12:20:00.000", EncodeString("0.5"),
       "Invalid data type for '09/12/25 12:20:00.000'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    store_->DeleteKey(RootKey::kLocalMachine, StorePath(SeriesPeriod::kDay));
    PutSample(At(2025, 12, 9, 12, 25), 0.5);
    Put(SeriesPeriod::kDay, c.name, c.value);
    clock_.Set(At(2025, 12, 10, 0, 0));
    try {
      RollUp(*store_, clock_.Now(), settings_);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(HasSeries(SeriesPeriod::kWeek));
  }
}

TEST_F(DiskHistoryTest, NamesThatAreNotTimesCountInNoWindow) {
  PutSample(At(2025, 12, 9, 12, 25), 0.5);
  Put(SeriesPeriod::kDay, "garbage", EncodeFloat(100));
  RollUp(*store_, At(2025, 12, 9, 12, 30), settings_);
  EXPECT_EQ(ValueOf(SeriesPeriod::kWeek, "09/12/2025 12:30:00"), 0.5);
}

TEST_F(DiskHistoryTest, TwentySixHoursOfOperation) {
  // The main loop's rhythm: a sample then a roll-up at every five-minute
  // boundary, each some milliseconds late.
  FixedDrive disk(1000, 400);
  const DateTime start = At(2025, 12, 31, 12, 0);
  for (int slot = 0; slot < 26 * 12; ++slot) {
    clock_.Set(AddMilliseconds(start, slot * 5 * 60 * 1000 + (slot * 37) % 90));
    SampleDisk(*store_, clock_, settings_, disk);
    RollUp(*store_, clock_.Now(), settings_);
  }
  const size_t day = Series(SeriesPeriod::kDay).size();
  EXPECT_TRUE(day == 300 || day == 301) << day;
  EXPECT_EQ(Series(SeriesPeriod::kWeek).size(), 52u);
  EXPECT_EQ(Series(SeriesPeriod::kMonth).size(), 13u);
  ASSERT_EQ(Series(SeriesPeriod::kYear).size(), 1u);
  EXPECT_EQ(Series(SeriesPeriod::kYear)[0].name, "01/01/2026");
  EXPECT_NEAR(ValueOf(SeriesPeriod::kYear, "01/01/2026"), 0.6, 1e-12);
}

TEST(CompareSeriesNamesTest, DescendingTextOrder) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"09/12/25 14:05:00.093", "09/12/25 14:00:00.093", -1},
      {"09/12/25 14:00:00.093", "09/12/25 14:05:00.093", 1},
      {"09/12/25 14:05:00.093", "09/12/25 14:05:00.093", 0},
      {"31/12/25 23:55:00.000", "01/01/26 00:00:00.000", -1},  // text, not time
      {"10/12/2025", "10/12/2025 00:30:00", 1},
      {"9", "10", -1},  // character by character
      {"a", "A", -1},   // case counts
  };
  for (const Case& c : cases) {
    const int r = CompareSeriesNames(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(ParseRollUpNameTest, ReadsBackWhatTheDefaultDateTimeTextWrites) {
  struct Settings {
    const char* short_date;
    const char* long_time;
    const char* date_sep;
    const char* time_sep;
  } settings_cases[] = {
      {"dd/MM/yyyy", "HH:mm:ss", "/", ":"},   {"yyyy-MM-dd", "HH:mm:ss", "-", ":"},
      {"M/d/yyyy", "h:mm:ss tt", "/", ":"},   {"dd.MM.yy", "H:mm:ss", ".", ":"},
      {"d MMM yyyy", "HH.mm.ss", "/", "."},   {"dddd, MMMM d, yyyy", "hh:mm:ss tt", "/", ":"},
      {"yyyy'年'M'月'd'日'", "H:mm:ss", "/", ":"},
  };
  const DateTime times[] = {At(2025, 12, 10, 0, 0), At(2025, 12, 10, 0, 0, 30),
                            At(2025, 1, 2, 12, 0), At(2024, 2, 29, 23, 59, 59),
                            At(2025, 6, 7, 13, 5, 9)};
  const DateTime now = At(2025, 12, 31, 12, 0);
  for (const Settings& s : settings_cases) {
    RegionalSettings settings;
    settings.short_date_format = s.short_date;
    settings.long_time_format = s.long_time;
    settings.date_separator = s.date_sep;
    settings.time_separator = s.time_sep;
    for (DateTime t : times) {
      const std::string name = DefaultDateTimeText(t, settings);
      DateTime parsed;
      ASSERT_TRUE(ParseRollUpName(name, settings, now, &parsed)) << s.short_date << ": " << name;
      EXPECT_EQ(parsed, t) << name;
    }
  }
  const RegionalSettings defaults;
  for (const char* bad : {"", "garbage", "31/02/2025", "10/12/2025 25:00:00", "10/12/2025 ",
                          "10/12/2025 12:00:00 extra", "1/12/2025x", "10/12/2025 12:00"}) {
    DateTime parsed{123};
    EXPECT_FALSE(ParseRollUpName(bad, defaults, now, &parsed)) << bad;
    EXPECT_EQ(parsed.days, 123) << bad;
  }
}

class ChartSeriesTest : public DiskHistoryTest {};

TEST_F(ChartSeriesTest, ShowsTheLatest300PointsNewestFirst) {
  // Forty days of 30-minute averages, created in time order. As text the
  // names of day 31 would sort first; the chart must still show the last
  // 300 points, the newest on the left.
  const DateTime first = At(2025, 10, 20, 0, 0);
  const int count = 40 * 48;
  store_->Atomically([&](RegistryStore& s) {
    s.CreateKey(RootKey::kLocalMachine, StorePath(SeriesPeriod::kWeek));
    for (int k = 0; k < count; ++k) {
      const DateTime t = AddMilliseconds(first, int64_t{k} * 30 * 60 * 1000);
      s.SetValue(RootKey::kLocalMachine, StorePath(SeriesPeriod::kWeek),
                 DefaultDateTimeText(t, settings_), EncodeFloat(k / 10000.0));
    }
  });
  const ChartSeries chart =
      ReadChartSeries(*store_, SeriesPeriod::kWeek, settings_, At(2025, 12, 1, 0, 0));
  ASSERT_EQ(chart.labels.size(), 300u);
  ASSERT_EQ(chart.values.size(), 300u);
  for (size_t i = 0; i < 300; ++i) {
    EXPECT_DOUBLE_EQ(chart.values[i], (count - 1 - static_cast<int>(i)) / 100.0) << i;
  }
  EXPECT_EQ(chart.labels[0], "23:30:00");     // 28/11/2025 23:30:00, the newest
  EXPECT_EQ(chart.labels[47], "28/11/2025");  // made at midnight: the date alone
}

TEST_F(ChartSeriesTest, LabelsAndPercentagesOfEachSeries) {
  // Day series across a year boundary, listed in creation order.
  PutSample(At(2025, 12, 31, 23, 55, 0, 12), 0.25);
  PutSample(At(2026, 1, 1, 0, 5, 0, 7), 0.5);
  PutSample(At(2026, 1, 1, 0, 0, 0, 31), 0.375);
  ChartSeries day = ReadChartSeries(*store_, SeriesPeriod::kDay, settings_, At(2026, 1, 1, 0, 6));
  EXPECT_EQ(day.labels,
            (std::vector<std::string>{"00:05:00.007", "00:00:00.031", "23:55:00.012"}));
  EXPECT_EQ(day.values, (std::vector<double>{50, 37.5, 25}));

  // A roll-up made at midnight has no blank: the whole name is its label.
  Put(SeriesPeriod::kYear, "01/01/2026", EncodeFloat(0.6));
  Put(SeriesPeriod::kYear, "31/12/2025 00:00:01", EncodeFloat(0.5));
  ChartSeries year = ReadChartSeries(*store_, SeriesPeriod::kYear, settings_, At(2026, 1, 1, 1, 0));
  EXPECT_EQ(year.labels, (std::vector<std::string>{"01/01/2026", "00:00:01"}));
  EXPECT_EQ(year.values, (std::vector<double>{60, 50}));

  EXPECT_TRUE(ReadChartSeries(*store_, SeriesPeriod::kMonth, settings_, At(2026, 1, 1, 1, 0))
                  .labels.empty())
      << "a series not yet written";
  EXPECT_EQ(ChartTitlePrefix(SeriesPeriod::kDay), "Daily Graph (5min avg) ");
  EXPECT_EQ(ChartTitlePrefix(SeriesPeriod::kWeek), "Weekly Graph (30min avg) ");
  EXPECT_EQ(ChartTitlePrefix(SeriesPeriod::kMonth), "Monthly Graph (2Hr avg) ");
  EXPECT_EQ(ChartTitlePrefix(SeriesPeriod::kYear), "Monthly Graph (1day avg) ");
}

TEST_F(ChartSeriesTest, BadValuesAreErrorsOfTheRequest) {
  struct Case {
    SeriesPeriod period;
    const char* name;
    RegValue value;
    const char* message;
  } cases[] = {
      {SeriesPeriod::kWeek, "09/12/2025 12:30:00", RegValue{ValueType::kBinary, "1234"},
       "Invalid data type for '09/12/2025 12:30:00'"},
      {SeriesPeriod::kMonth, "09/12/2025 12:00:00", EncodeDword(1),
       "Invalid data type for '09/12/2025 12:00:00'"},
      {SeriesPeriod::kYear, "09/12/2025", RegValue{ValueType::kBinary, std::string(9, 'x')},
       "Failed to get data for '09/12/2025'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    store_->DeleteKey(RootKey::kLocalMachine, StorePath(c.period));
    Put(c.period, c.period == SeriesPeriod::kDay ? "09/12/25 12:00:00.000" : "08/12/2025",
        EncodeFloat(0.5));
    Put(c.period, c.name, c.value);
    try {
      ReadChartSeries(*store_, c.period, settings_, At(2025, 12, 9, 13, 0));
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST_F(ChartSeriesTest, NamesThatAreNotTimesAreLeftOut) {
  // Written with a long time format nobody remembers.
  RegionalSettings twelve_hours = settings_;
  twelve_hours.long_time_format = "h:mm:ss tt";
  Put(SeriesPeriod::kWeek, "09/12/2025 12:30:00", EncodeFloat(0.25));
  Put(SeriesPeriod::kWeek, "08/12/2025", EncodeFloat(0.75));
  Put(SeriesPeriod::kWeek, "09/12/2025 13:00:00", EncodeFloat(0.5));
  Put(SeriesPeriod::kWeek, "yesterday", EncodeFloat(1));
  ChartSeries week =
      ReadChartSeries(*store_, SeriesPeriod::kWeek, twelve_hours, At(2025, 12, 10, 0, 0));
  EXPECT_EQ(week.labels, (std::vector<std::string>{"08/12/2025"}));
  EXPECT_EQ(week.values, (std::vector<double>{75}));
  week = ReadChartSeries(*store_, SeriesPeriod::kWeek, settings_, At(2025, 12, 10, 0, 0));
  EXPECT_EQ(week.labels, (std::vector<std::string>{"13:00:00", "12:30:00", "08/12/2025"}));

  Put(SeriesPeriod::kDay, "09/12/25 12:30", EncodeFloat(0.5));
  EXPECT_TRUE(ReadChartSeries(*store_, SeriesPeriod::kDay, settings_, At(2025, 12, 10, 0, 0))
                  .labels.empty());
}

TEST_F(ChartSeriesTest, ReadingWhileTheSamplerPrunesNeverFails) {
  // A full day series whose oldest values the sampler deletes one by one
  // while charts are read from another thread.
  const DateTime start = At(2025, 12, 9, 0, 0);
  store_->Atomically([&](RegistryStore& s) {
    s.CreateKey(RootKey::kLocalMachine, StorePath(SeriesPeriod::kDay));
    for (int k = 0; k < 301; ++k) {
      s.SetValue(RootKey::kLocalMachine, StorePath(SeriesPeriod::kDay),
                 Stamp(AddMilliseconds(start, int64_t{k} * 5 * 60 * 1000)), EncodeFloat(0.5));
    }
  });
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!stop) {
      const ChartSeries s = ReadChartSeries(*store_, SeriesPeriod::kDay, settings_,
                                            At(2025, 12, 10, 12, 0));
      EXPECT_LE(s.labels.size(), 300u);
      EXPECT_EQ(s.labels.size(), s.values.size());
      ++reads;
    }
  });
  FixedDrive disk(100, 50);
  for (int k = 0; k < 60 || reads < 20; ++k) {
    clock_.Set(AddMilliseconds(start, (int64_t{301} + k) * 5 * 60 * 1000 + 25 * 3600 * 1000));
    SampleDisk(*store_, clock_, settings_, disk);
  }
  stop = true;
  reader.join();
}

}  // namespace
}  // namespace quarrin
