// What all service managers share: state names and the stop and start
// requests of the self-update.
#include "platform/service/service_manager.h"

#include <array>
#include <utility>

namespace quarrin {
namespace {

constexpr std::array<std::pair<ServiceState, std::string_view>, 7> kStateNames = {{
    {ServiceState::kStopped, "STOPPED"},
    {ServiceState::kStartPending, "START_PENDING"},
    {ServiceState::kStopPending, "STOP_PENDING"},
    {ServiceState::kRunning, "RUNNING"},
    {ServiceState::kContinuePending, "CONTINUE_PENDING"},
    {ServiceState::kPausePending, "PAUSE_PENDING"},
    {ServiceState::kPaused, "PAUSED"},
}};

bool ServiceInstalled(RegistryStore& registry, const std::string& name) {
  return registry.KeyExists(RootKey::kLocalMachine, "System\\CurrentControlSet\\Services\\" + name);
}

}  // namespace

std::string_view ServiceStateName(ServiceState state) {
  for (const auto& [s, name] : kStateNames) {
    if (s == state) return name;
  }
  return "UNKNOWN";
}

std::optional<ServiceState> ParseServiceState(std::string_view name) {
  for (const auto& [s, n] : kStateNames) {
    if (n == name) return s;
  }
  return std::nullopt;
}

bool RequestServiceStop(ServiceManager& manager, RegistryStore& registry, const std::string& name) {
  if (!ServiceInstalled(registry, name)) return false;
  try {
    manager.Control(name, kControlStop);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool RequestServiceStart(ServiceManager& manager, RegistryStore& registry,
                         const std::string& name) {
  if (!ServiceInstalled(registry, name)) return false;
  try {
    manager.Start(name);
  } catch (const std::exception&) {
    // The request reached the manager; its outcome is not ours to report.
  }
  return true;
}

}  // namespace quarrin
