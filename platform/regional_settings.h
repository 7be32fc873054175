// Regional settings, read from HKEY_USERS\.DEFAULT\Control Panel\International.
#ifndef QUARRIN_PLATFORM_REGIONAL_SETTINGS_H_
#define QUARRIN_PLATFORM_REGIONAL_SETTINGS_H_

#include <string>

#include "platform/date_time.h"
#include "platform/registry_store.h"

namespace quarrin {

struct RegionalSettings {
  std::string short_date_format = "dd/MM/yyyy";  // sShortDate
  std::string long_time_format = "HH:mm:ss";     // sTimeFormat
  std::string date_separator = "/";              // sDate
  std::string time_separator = ":";              // sTime
  std::string thousand_separator = ",";          // sThousand
  std::string decimal_separator = ".";           // sDecimal
};

// The settings stored in the registry, each missing or empty one taking its
// default. Never throws for a missing key; a value of a non-text type keeps
// its default too.
RegionalSettings ReadRegionalSettings(RegistryStore& store);

// Formats t with a date/time pattern in the regional style: d dd M MM MMM
// MMMM yy yyyy h hh H HH m mm s ss z zzz tt, "/" as the date separator and
// ":" as the time separator; text in single or double quotes is literal.
std::string FormatDateTimePattern(std::string_view pattern, DateTime t,
                                  const RegionalSettings& settings);

// The short date, then, unless the time of day is exactly 00:00:00, a blank
// and the long time.
std::string DefaultDateTimeText(DateTime t, const RegionalSettings& settings);

// Parses a date written in the short date format (day, month and year in the
// format's order, separated by the date separator). A two-digit year falls in
// the hundred years that begin 50 years before reference's year. Returns false
// when the text is not a valid date.
bool ParseShortDate(std::string_view text, const RegionalSettings& settings,
                    DateTime reference, DateTime* out);

// A whole number with the thousands separator between groups of three digits.
std::string SizeText(int64_t bytes, const RegionalSettings& settings);

// "Jan" .. "Dec".
std::string ShortMonthName(int month);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGIONAL_SETTINGS_H_
