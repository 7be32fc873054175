// Changing this process's environment, as getenv(3) then sees it.
#ifndef QUARRIN_PLATFORM_PROCESS_ENVIRONMENT_H_
#define QUARRIN_PLATFORM_PROCESS_ENVIRONMENT_H_

#include <string>

namespace quarrin {

// Sets the variable, replacing any value it had. False when the system
// refuses (an empty name or one holding "=").
bool SetEnvironmentValue(const std::string& name, const std::string& value);
// Removes the variable; true when it is gone afterwards.
bool UnsetEnvironmentValue(const std::string& name);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_PROCESS_ENVIRONMENT_H_
