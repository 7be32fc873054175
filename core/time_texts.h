// Texts of times the agent writes and reads: time stamps and up time.
#ifndef QUARRIN_CORE_TIME_TEXTS_H_
#define QUARRIN_CORE_TIME_TEXTS_H_

#include <chrono>
#include <string>

#include "platform/time/clock.h"
#include "platform/time/date_time.h"
#include "platform/regional/regional_settings.h"

namespace quarrin {

// "dd/mm/yy hh:mm:ss.zzz" of t with the regional date and time separators,
// every field zero-padded, no time zone; t exactly 0 means clock.Now().
// With "/" and ":": 5 January 2006 13:45:07.123 gives 05/01/06 13:45:07.123.
std::string TimestampText(DateTime t, Clock& clock, const RegionalSettings& settings);
// Parses a text that TimestampText wrote (same separators, every field with
// its full number of digits). A two-digit year falls in the hundred years
// beginning 50 years before reference's year. Returns false, leaving *out
// alone, when the text is not such a time stamp or names no real time.
bool ParseTimestampText(std::string_view text, const RegionalSettings& settings,
                        DateTime reference, DateTime* out);

// "1w2d3h4m5s" of a time since boot: weeks, days, hours, minutes, seconds,
// without leading zeros; the milliseconds are dropped. The count is 64-bit
// and does not start again from zero after 2^32 ms. A negative time gives
// 0w0d0h0m0s.
std::string UptimeText(std::chrono::milliseconds since_boot);
std::string UptimeText(Clock& clock);

}  // namespace quarrin

#endif  // QUARRIN_CORE_TIME_TEXTS_H_
