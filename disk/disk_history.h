// The history of how full the system drive is: a five-minute sample series
// and three averaged series, kept as float values under the service key.
//
//   C_Drive(Day)    one sample per call of SampleDisk, named by its time
//                   stamp ("dd/mm/yy hh:mm:ss.zzz"), pruned after 25 hours
//   C_Drive(Week)   30-minute averages, written at minutes 0 and 30
//   C_Drive(Month)  2-hour averages, written when the minute of the day is a
//                   multiple of 120
//   C_Drive(Year)   daily averages, written at midnight
//
// The averaged series are named by the default date-time text of the slot
// boundary they belong to (the date alone at 00:00) and are never pruned.
// Each value is the used fraction of the drive (normally 0 to 1) as an
// 8-byte REG_BINARY double.
#ifndef QUARRIN_DISK_DISK_HISTORY_H_
#define QUARRIN_DISK_DISK_HISTORY_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/time/clock.h"
#include "platform/time/date_time.h"
#include "platform/files/disk_space.h"
#include "platform/regional/regional_settings.h"
#include "platform/registry/registry_store.h"

namespace quarrin {

enum class SeriesPeriod { kDay, kWeek, kMonth, kYear };

// The key of a series below HKEY_LOCAL_MACHINE, with its leading "\":
// "\System\CurrentControlSet\Services\TARNQuarrinSrvc\C_Drive(Day)" and so on.
std::string SeriesKeyPath(SeriesPeriod period);

// The series name order: descending under a case-sensitive collation that
// orders digits by value. Returns a negative number when a comes first
// (collates after b), zero when they collate equal, positive otherwise.
// Plain byte order is such a collation, and for the names the series hold
// (digits, separators, blanks, month names) it orders as a locale would.
// This is text order, not time order: day-series names sort by day of the
// month first.
int CompareSeriesNames(std::string_view a, std::string_view b);

// Takes one sample of `drive` and stores it in the day series under the
// TimestampText of clock.Now(), creating the key when missing; then deletes
// every day-series value whose time lies more than 25 hours before a second
// reading of the clock (a value exactly 25 hours old stays). A failed drive
// query stores a zero sample: both figures count as -1, so the sample is
// (-1 - -1) / -1, a negative zero.
// Names are read with `settings` and the formats remembered for the series
// (series_names.h), where the formats of this sample are noted first. A
// name that none of them reads as a time can never be charted: it is
// deleted too, and the number of such values is returned.
// Throws RegistryError when a key cannot be created or a value not
// written. REQUIRES: runs on one thread at a time with RollUp.
size_t SampleDisk(RegistryStore& store, Clock& clock, const RegionalSettings& settings,
                  DiskSpaceSource& drive);

// Writes the averages due at `slot`, the five-minute boundary the run
// belongs to, however late it runs; all windows and names are taken from
// slot: at minutes 0 and 30 the mean of the day-series values stamped
// strictly later than slot - 30 minutes into the week series; when the
// minute of the day is a multiple of 120 also the mean over slot - 2 hours
// into the month series; at minute 0 of the day also the mean over
// slot - 1 day into the year series. The averages are named by the default
// date-time text of slot. A window without values writes nothing. Does
// nothing at other minutes or when the day series is missing. A day-series
// name that is not a time (read as SampleDisk reads them) counts in no
// window. Throws RegistryError for a value that is not an 8-byte float,
// before anything is written.
void RollUp(RegistryStore& store, DateTime slot, const RegionalSettings& settings);

// Reads back the time a roll-up name denotes: the short date format, then
// optionally a blank and the long time format, as DefaultDateTimeText
// writes them under `settings`. A two-digit year falls in the hundred years
// that begin 50 years before reference's year. Returns false, leaving *out
// alone, when the text is not such a name or names no real time.
bool ParseRollUpName(std::string_view name, const RegionalSettings& settings, DateTime reference,
                     DateTime* out);

// The points a usage chart shows, newest first.
struct ChartSeries {
  std::vector<std::string> labels;  // the part of each name after its first blank
  std::vector<double> values;       // the stored fraction x 100
};

inline constexpr size_t kMaxChartPoints = 300;

// The latest kMaxChartPoints points of a series, read as one consistent
// snapshot and ordered by the time each name denotes, newest first (equal
// times in series name order). Day-series names are read as time stamps,
// the others as roll-up names, each with `settings` and the remembered
// formats (series_names.h), two-digit years relative to `now`. A name that
// none of them reads is left out. A missing key, or one whose names are all
// unreadable, gives an empty series. Throws RegistryError ("Invalid data
// type for '%s'", "Failed to get data for '%s'") for a value that is not an
// 8-byte float.
// Safe to call from any thread while the sampler runs.
ChartSeries ReadChartSeries(RegistryStore& store, SeriesPeriod period,
                            const RegionalSettings& settings, DateTime now);

// The newest sample of the day series: the time its name denotes (read as
// ReadChartSeries reads it) and the used fraction stored. Nullopt when the
// series is missing or holds no readable sample; a value that is not an
// 8-byte float is passed over. Safe to call from any thread while the
// sampler runs.
struct DaySample {
  DateTime time;
  double used = 0;
};
std::optional<DaySample> LatestDaySample(RegistryStore& store, const RegionalSettings& settings,
                                         DateTime now);

// The title prefix of a period's chart, e.g. "Daily Graph (5min avg) ".
std::string_view ChartTitlePrefix(SeriesPeriod period);

}  // namespace quarrin

#endif  // QUARRIN_DISK_DISK_HISTORY_H_
