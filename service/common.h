// Small functions that every subsystem uses.
#ifndef QUARRIN_SERVICE_COMMON_H_
#define QUARRIN_SERVICE_COMMON_H_

#include <chrono>
#include <string>

#include "platform/clock.h"
#include "platform/date_time.h"
#include "platform/regional_settings.h"

namespace quarrin {

// "dd/mm/yy hh:mm:ss.zzz" of t with the regional date and time separators;
// t exactly 0 means clock.Now().
std::string TimestampText(DateTime t, Clock& clock, const RegionalSettings& settings);
// Parses a text that TimestampText wrote (same separators). A two-digit year
// falls in the hundred years beginning 50 years before reference's year.
// Returns false when the text is not such a time stamp.
bool ParseTimestampText(std::string_view text, const RegionalSettings& settings,
                        DateTime reference, DateTime* out);

// "1w2d3h4m5s" of a time since boot: weeks, days, hours, minutes, seconds.
std::string UptimeText(std::chrono::milliseconds since_boot);
std::string UptimeText(Clock& clock);

// This computer's name as the system reports it (the host name).
std::string LocalComputerName();

// The folder of the running executable with its trailing "/"; also makes it
// the current directory (a failure to do so is ignored).
std::string ProgramFolder();

// Special folders, below QUARRIN_ROOT, without a trailing "/":
// 0x23 the common application data folder, 0x26 the program files folder.
inline constexpr int kCsidlCommonAppData = 0x23;
inline constexpr int kCsidlProgramFiles = 0x26;
std::string SpecialFolderPath(int csidl);

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_COMMON_H_
