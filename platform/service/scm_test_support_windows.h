// For tests that install a service of their own in the service control
// manager.
#ifndef QUARRIN_PLATFORM_SERVICE_SCM_TEST_SUPPORT_WINDOWS_H_
#define QUARRIN_PLATFORM_SERVICE_SCM_TEST_SUPPORT_WINDOWS_H_

#include <chrono>
#include <string>
#include <thread>

#include "platform/files/paths.h"
#include "platform/service/service_manager.h"

namespace quarrin::testing {

// A file beside the running program.
inline std::string BesideRunner(const std::string& name) {
  const std::string path = ExecutablePath();
  return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

// Waits, at most 30 seconds, until the service reports `wanted`.
inline bool WaitForServiceState(ServiceManager& manager, const std::string& name,
                                ServiceState wanted) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (manager.Query(name) != wanted) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Stops and removes the service when it is there: what a test left behind
// that ended half-way.
inline void RemoveServiceIfThere(ServiceManager& manager, const std::string& name) {
  try {
    if (manager.Query(name) != ServiceState::kStopped) manager.Control(name, kControlStop);
    WaitForServiceState(manager, name, ServiceState::kStopped);
    manager.Unregister(name);
  } catch (const ServiceManagerError&) {
  }
}

}  // namespace quarrin::testing

#endif  // QUARRIN_PLATFORM_SERVICE_SCM_TEST_SUPPORT_WINDOWS_H_
