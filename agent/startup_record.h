// The startup record and the local settings, kept as text values of the
// maker's key HKEY_LOCAL_MACHINE\SOFTWARE\TARN\<application>.
#ifndef QUARRIN_AGENT_STARTUP_RECORD_H_
#define QUARRIN_AGENT_STARTUP_RECORD_H_

#include <string>

#include "platform/time/clock.h"
#include "platform/regional/regional_settings.h"
#include "platform/registry/registry_store.h"

namespace quarrin {

// "\SOFTWARE\TARN\" + application.
std::string MakerKeyPath(const std::string& application);

// Creates the maker key when it is missing, then writes, in this order:
//   "Version"                     the running program's "FileVersion" text
//                                 (empty when its version resource has none)
//   "Started"                     TimestampText of clock.Now()
//   "Memory"                      MemoryText(), e.g. "511MB"
//   "Windows up time at Startup"  UptimeText of the clock, e.g. "0w0d0h2m41s"
// Throws RegistryError "Failed to create key %s" or "Failed to set data for
// '%s'".
void WriteStartupRecord(RegistryStore& store, const std::string& application, Clock& clock,
                        const RegionalSettings& settings);

// The text value `name` of the maker key. When the key exists and the value
// is missing or empty, a non-empty default_value is stored as the value and
// returned. When the key is missing the result is default_value and nothing
// is created. Throws RegistryError "Invalid data type for '%s'" for a value
// that is not text, "Failed to set data for '%s'" when storing fails.
std::string ReadLocalSetting(RegistryStore& store, const std::string& application,
                             const std::string& name, const std::string& default_value);

}  // namespace quarrin

#endif  // QUARRIN_AGENT_STARTUP_RECORD_H_
