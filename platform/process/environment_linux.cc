#include "platform/process/environment.h"

#include <stdlib.h>

namespace quarrin {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool UnsetEnvironmentValue(const std::string& name) { return unsetenv(name.c_str()) == 0; }

}  // namespace quarrin
