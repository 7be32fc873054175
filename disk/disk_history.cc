#include "disk/disk_history.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/registry.h"
#include "core/service_identity.h"
#include "core/time_texts.h"
#include "disk/series_names.h"
#include "platform/regional/date_pattern.h"

namespace quarrin {

namespace {

constexpr int64_t kMsPerMinute = 60 * 1000;
constexpr int64_t kMsPerHour = 60 * kMsPerMinute;
constexpr int64_t kPruneAgeMs = 25 * kMsPerHour;

// The reader of this operation's series names.
SeriesNameReader NameReader(RegistryStore& store, const RegionalSettings& settings) {
  return SeriesNameReader(settings, ReadNameFormats(store));
}

// The float of a value taken from a snapshot, failing as Registry::ReadFloat
// does for the same bytes.
double FloatOf(const NamedValue& v) {
  if (v.value.data.size() > 8) {
    throw RegistryError("Failed to get data for '" + v.name + "'");
  }
  double x = 0;
  if (!DecodeFloat(v.value, &x)) throw RegistryError("Invalid data type for '" + v.name + "'");
  return x;
}

struct TimedValue {
  DateTime time;
  double value;
};

// Writes the mean of the values stamped strictly later than t - window_ms,
// when there are any, into the series of `period` under `name`.
void WriteAverage(RegistryStore& store, SeriesPeriod period, const std::vector<TimedValue>& day,
                  DateTime t, int64_t window_ms, const std::string& name) {
  double sum = 0;
  int64_t count = 0;
  for (const TimedValue& p : day) {
    // time > t - window, in whole milliseconds so that rounding of the day
    // counts cannot move a sample across the window's start.
    if (MillisecondsBetween(p.time, t) < window_ms) {
      sum += p.value;
      ++count;
    }
  }
  if (count == 0) return;
  Registry reg(store, kAccessReadWrite);
  reg.SetRootKey(RootKey::kLocalMachine);
  const std::string path = SeriesKeyPath(period);
  if (!reg.KeyExists(path)) reg.CreateKey(path);
  if (!reg.OpenKey(path, false)) return;
  reg.WriteFloat(name, sum / static_cast<double>(count));
  reg.CloseKey();
}

}  // namespace

std::string SeriesKeyPath(SeriesPeriod period) {
  std::string path = std::string(kServicesKey) + kServiceName;
  switch (period) {
    case SeriesPeriod::kDay:
      return path + "\\C_Drive(Day)";
    case SeriesPeriod::kWeek:
      return path + "\\C_Drive(Week)";
    case SeriesPeriod::kMonth:
      return path + "\\C_Drive(Month)";
    case SeriesPeriod::kYear:
      return path + "\\C_Drive(Year)";
  }
  return path;
}

std::string_view ChartTitlePrefix(SeriesPeriod period) {
  switch (period) {
    case SeriesPeriod::kDay:
      return "Daily Graph (5min avg) ";
    case SeriesPeriod::kWeek:
      return "Weekly Graph (30min avg) ";
    case SeriesPeriod::kMonth:
      return "Monthly Graph (2Hr avg) ";
    case SeriesPeriod::kYear:
      return "Monthly Graph (1day avg) ";
  }
  return "";
}

int CompareSeriesNames(std::string_view a, std::string_view b) {
  const int order = a.compare(b);
  return order > 0 ? -1 : order < 0 ? 1 : 0;
}

size_t SampleDisk(RegistryStore& store, Clock& clock, const RegionalSettings& settings,
                  DiskSpaceSource& drive) {
  Registry reg(store, kAccessFull);
  reg.SetRootKey(RootKey::kLocalMachine);
  const std::string path = SeriesKeyPath(SeriesPeriod::kDay);
  if (!reg.KeyExists(path)) reg.CreateKey(path);
  if (!reg.OpenKey(path, false)) return 0;

  int64_t total = -1;
  int64_t free = -1;
  if (!drive.Query(&total, &free)) {
    total = -1;
    free = -1;
  }
  // A failed query gives (-1 - -1) / -1: a negative zero, kept as it is.
  const double used =
      (static_cast<double>(total) - static_cast<double>(free)) / static_cast<double>(total);
  const DateTime sampled = clock.Now();
  NoteNameFormats(store, settings, sampled);
  reg.WriteFloat(TimestampText(sampled, clock, settings), used);

  const SeriesNameReader names = NameReader(store, settings);
  const DateTime now = clock.Now();
  size_t unreadable = 0;
  for (const std::string& name : reg.GetValueNames()) {
    DateTime stamp;
    if (!names.DayName(name, now, &stamp)) {
      // Not a time under any formats known: no chart can ever show it.
      reg.DeleteValue(name);
      ++unreadable;
    } else if (MillisecondsBetween(stamp, now) > kPruneAgeMs) {
      // Older than now - 25 h; exactly 25 hours old stays.
      reg.DeleteValue(name);
    }
  }
  return unreadable;
}

void RollUp(RegistryStore& store, DateTime slot, const RegionalSettings& settings) {
  const DateTime t = slot;
  const CivilTime c = DecodeDateTime(t);
  if (c.minute != 0 && c.minute != 30) return;

  Registry reg(store, kAccessReadWrite);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (!reg.OpenKey(SeriesKeyPath(SeriesPeriod::kDay), false)) return;
  std::vector<NamedValue> values = reg.GetValues();
  reg.CloseKey();
  std::sort(values.begin(), values.end(), [](const NamedValue& a, const NamedValue& b) {
    return CompareSeriesNames(a.name, b.name) < 0;
  });
  const SeriesNameReader names = NameReader(store, settings);
  std::vector<TimedValue> day;
  day.reserve(values.size());
  for (const NamedValue& v : values) {
    const double value = FloatOf(v);
    DateTime stamp;
    if (names.DayName(v.name, t, &stamp)) day.push_back(TimedValue{stamp, value});
  }

  NoteNameFormats(store, settings, t);
  const std::string name = DefaultDateTimeText(t, settings);
  WriteAverage(store, SeriesPeriod::kWeek, day, t, 30 * kMsPerMinute, name);
  const int minute_of_day = c.hour * 60 + c.minute;
  if (minute_of_day % 120 == 0) {
    WriteAverage(store, SeriesPeriod::kMonth, day, t, 2 * kMsPerHour, name);
    if (minute_of_day == 0) WriteAverage(store, SeriesPeriod::kYear, day, t, 24 * kMsPerHour, name);
  }
}

bool ParseRollUpName(std::string_view name, const RegionalSettings& settings, DateTime reference,
                     DateTime* out) {
  const int year = DecodeDateTime(reference).year;
  const std::string date_and_time = settings.short_date_format + " " + settings.long_time_format;
  return ParseDateTimePattern(name, date_and_time, settings, year, out) ||
         ParseDateTimePattern(name, settings.short_date_format, settings, year, out);
}

ChartSeries ReadChartSeries(RegistryStore& store, SeriesPeriod period,
                            const RegionalSettings& settings, DateTime now) {
  Registry reg(store, kAccessFull);
  reg.SetRootKey(RootKey::kLocalMachine);
  ChartSeries series;
  if (!reg.OpenKey(SeriesKeyPath(period), false)) return series;
  // One snapshot: a value the sampler prunes meanwhile is either in it
  // whole or not at all.
  std::vector<NamedValue> values = reg.GetValues();
  reg.CloseKey();

  struct Point {
    DateTime time;
    const NamedValue* value;
  };
  const SeriesNameReader names = NameReader(store, settings);
  std::vector<Point> points;
  points.reserve(values.size());
  for (const NamedValue& v : values) {
    FloatOf(v);  // every value must be a float, shown or not
    DateTime t;
    const bool parsed = period == SeriesPeriod::kDay ? names.DayName(v.name, now, &t)
                                                     : names.RollUpName(v.name, now, &t);
    // A name no known formats read has no place on the time axis.
    if (parsed) points.push_back(Point{t, &v});
  }
  const size_t shown = std::min(points.size(), kMaxChartPoints);
  std::partial_sort(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(shown),
                    points.end(), [](const Point& a, const Point& b) {
                      if (a.time != b.time) return a.time > b.time;
                      return CompareSeriesNames(a.value->name, b.value->name) < 0;
                    });
  series.labels.reserve(shown);
  series.values.reserve(shown);
  for (size_t i = 0; i < shown; ++i) {
    const std::string& name = points[i].value->name;
    const size_t blank = name.find(' ');
    series.labels.push_back(blank == std::string::npos ? name : name.substr(blank + 1));
    series.values.push_back(FloatOf(*points[i].value) * 100.0);
  }
  return series;
}

std::optional<DaySample> LatestDaySample(RegistryStore& store, const RegionalSettings& settings,
                                         DateTime now) {
  Registry reg(store, kAccessFull);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (!reg.OpenKey(SeriesKeyPath(SeriesPeriod::kDay), false)) return std::nullopt;
  const std::vector<NamedValue> values = reg.GetValues();
  reg.CloseKey();
  const SeriesNameReader names = NameReader(store, settings);
  std::optional<DaySample> latest;
  for (const NamedValue& v : values) {
    DateTime t;
    double used = 0;
    if (v.value.data.size() > 8 || !DecodeFloat(v.value, &used)) continue;
    if (!names.DayName(v.name, now, &t)) continue;
    if (!latest || t > latest->time) latest = DaySample{t, used};
  }
  return latest;
}

}  // namespace quarrin
