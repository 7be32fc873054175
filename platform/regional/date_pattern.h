// Reading back texts that FormatDateTimePattern wrote.
#ifndef QUARRIN_PLATFORM_REGIONAL_DATE_PATTERN_H_
#define QUARRIN_PLATFORM_REGIONAL_DATE_PATTERN_H_

#include <string_view>

#include "platform/time/date_time.h"
#include "platform/regional/regional_settings.h"

namespace quarrin {

// Parses the whole of `text` as written by FormatDateTimePattern(pattern,
// ..., settings), with the same pattern letters, separators and quoting.
// Fields written with a fixed number of digits ("dd", "MM", "HH", "zzz",
// ...) must have exactly that many; the single-letter forms take one or
// two digits (one to three for "z"). Day names are matched and ignored;
// month names give the month. A two-digit year falls in the hundred years
// that begin 50 years before reference_year. Fields the pattern does not
// name are taken from 1 January of reference_year, 00:00:00.000.
// Returns false, leaving *out alone, when the text does not match the
// pattern or names no real date and time.
bool ParseDateTimePattern(std::string_view text, std::string_view pattern,
                          const RegionalSettings& settings, int reference_year, DateTime* out);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGIONAL_DATE_PATTERN_H_
