// Regional settings, read from HKEY_USERS\.DEFAULT\Control Panel\International.
#ifndef QUARRIN_PLATFORM_REGIONAL_REGIONAL_SETTINGS_H_
#define QUARRIN_PLATFORM_REGIONAL_REGIONAL_SETTINGS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/time/date_time.h"
#include "platform/registry/registry_store.h"

namespace quarrin {

struct RegionalSettings {
  std::string short_date_format = "dd/MM/yyyy";  // sShortDate
  std::string long_time_format = "HH:mm:ss";     // sTimeFormat
  std::string date_separator = "/";              // sDate
  std::string time_separator = ":";              // sTime
  std::string thousand_separator = ",";          // sThousand
  std::string decimal_separator = ".";           // sDecimal
  bool operator==(const RegionalSettings&) const = default;
};

// The settings stored in the registry, each missing or empty one taking its
// default. A text value ends at its first zero byte. Never throws for a
// missing key; a value of a non-text type keeps its default too. A failing
// store throws its StoreError.
RegionalSettings ReadRegionalSettings(RegistryStore& store);

// Formats t with a date/time pattern in the regional style:
//   d dd        day of month, without / with a leading zero
//   ddd dddd    "Mon" / "Monday"
//   M MM        month, without / with a leading zero; MMM "Jan", MMMM "January"
//   y yy        year in the century, without / with a leading zero; yyyy the year
//   h hh H HH   hour of a 12-hour / 24-hour clock, without / with a leading zero
//   m mm s ss   minutes, seconds, without / with a leading zero
//   z zzz       milliseconds, without / with leading zeros
//   t tt        "A" or "P" / "AM" or "PM"
// "/" is the date separator and ":" the time separator; text in single or
// double quotes is literal (an unclosed quote runs to the end), and any other
// character stands for itself.
std::string FormatDateTimePattern(std::string_view pattern, DateTime t,
                                  const RegionalSettings& settings);

// A pattern of FormatDateTimePattern cut into its pieces, in order: each
// run of one pattern letter (d M y h H m s z t) or separator (/ :) is one
// piece with that letter and the run's length; quoted text (without its
// quotes) and every other character are literal pieces with letter 0.
struct PatternPiece {
  char letter = 0;
  int count = 0;          // length of the run
  std::string_view text;  // the literal text, or the run itself
};
std::vector<PatternPiece> SplitDateTimePattern(std::string_view pattern);

// The short date, then, unless the time of day is exactly 00:00:00, a blank
// and the long time.
std::string DefaultDateTimeText(DateTime t, const RegionalSettings& settings);

// Parses a date written in the short date format: day, month and year in the
// order the format names them, separated by the date separator, blanks
// allowed only around the whole. Day and month take one or two digits, the
// year two or four; a two-digit year falls in the hundred years that begin 50
// years before reference's year. Returns false, leaving *out alone, when the
// text is not a valid date.
bool ParseShortDate(std::string_view text, const RegionalSettings& settings,
                    DateTime reference, DateTime* out);

// A whole number with the thousands separator between groups of three
// digits; a negative number has its "-" in front ("-1", "-1,000").
std::string SizeText(int64_t bytes, const RegionalSettings& settings);

// "Jan" .. "Dec" for 1 .. 12; empty for any other number.
std::string ShortMonthName(int month);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGIONAL_REGIONAL_SETTINGS_H_
