#include "platform/process/environment.h"

#include <stdlib.h>

namespace quarrin {

// The C library's copy, which getenv reads; _putenv_s passes the change on
// to the process's own environment, which child processes inherit.
// An empty value removes the variable: Windows has no empty ones.
bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

bool UnsetEnvironmentValue(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return _putenv_s(name.c_str(), "") == 0;
}

}  // namespace quarrin
