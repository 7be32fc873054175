// Reading the names of the disk series back as times after the regional
// settings have changed.
//
// A series name is a text of the date and time formats in force when it
// was written: the day series uses the date and time separators, the
// averaged series the short date format, the long time format and both
// separators. So that a change of those settings does not make the stored
// names unreadable, every set of formats that names were written with is
// remembered under the service key, oldest first:
//
//   C_Drive(Formats)\1, \2, ...   sShortDate, sTimeFormat, sDate, sTime
//                                 (REG_SZ, as in the International key)
//                                 and Since (float: the time of the
//                                 earliest name written with them)
#ifndef QUARRIN_DISK_SERIES_NAMES_H_
#define QUARRIN_DISK_SERIES_NAMES_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/time/date_time.h"
#include "platform/regional/regional_settings.h"
#include "platform/registry/registry_store.h"

namespace quarrin {

// "\System\CurrentControlSet\Services\TARNQuarrinSrvc\C_Drive(Formats)".
std::string NameFormatsKeyPath();

// One remembered set of formats. Only the date and time formats and
// separators of `settings` are kept.
struct NameFormats {
  RegionalSettings settings;
  DateTime since;
};

// True when names written with a and b are the same texts.
bool SameNameFormats(const RegionalSettings& a, const RegionalSettings& b);

// The remembered formats, oldest first; none when the key is missing.
// Throws RegistryError for a value of the wrong type.
std::vector<NameFormats> ReadNameFormats(RegistryStore& store);

// Records that a name for time t is about to be written with `settings`:
// they become the newest remembered formats when they differ from the
// newest ones, else that entry's Since moves back to t if t is earlier.
// Throws RegistryError when the key cannot be written.
void NoteNameFormats(RegistryStore& store, const RegionalSettings& settings, DateTime t);

// Reads series names with one operation's settings and the remembered
// formats. A name is taken:
//   1. with the remembered formats whose time range (from their Since to
//      the next ones' Since) holds the time it reads as, newest first;
//   2. else with the current settings;
//   3. else with the newest remembered formats that read it at all.
// A name none of them reads is not a time.
class SeriesNameReader {
 public:
  SeriesNameReader(RegionalSettings current, std::vector<NameFormats> remembered);

  // A day-series time stamp ("dd/mm/yy hh:mm:ss.zzz"); two-digit years in
  // the hundred years that begin 50 years before reference's year.
  bool DayName(std::string_view name, DateTime reference, DateTime* out) const;
  // A roll-up name (the default date-time text), likewise.
  bool RollUpName(std::string_view name, DateTime reference, DateTime* out) const;

 private:
  using Parser = bool (*)(std::string_view, const RegionalSettings&, DateTime, DateTime*);
  bool Read(Parser parse, std::string_view name, DateTime reference, DateTime* out) const;

  RegionalSettings current_;
  std::vector<NameFormats> remembered_;
};

}  // namespace quarrin

#endif  // QUARRIN_DISK_SERIES_NAMES_H_
