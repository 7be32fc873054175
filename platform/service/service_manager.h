// The service manager in charge of this machine: on Windows the service
// control manager; on Linux systemd where it runs the machine, otherwise the
// built-in manager behind `quarrinctl sc`.
//
// On Linux, control requests reach a service process as signals: SIGTERM or SIGINT is
// stop (1), SIGPWR is shutdown (5), and any code arrives as SIGRTMIN carrying
// the code as its value. A service process reports its status through a
// StatusReporter: the systemd notify socket, or the built-in manager's status
// record (<state>/services/<name>.status). On Windows both go through the
// service control manager (service_dispatch.h).
#ifndef QUARRIN_PLATFORM_SERVICE_SERVICE_MANAGER_H_
#define QUARRIN_PLATFORM_SERVICE_SERVICE_MANAGER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry/registry_store.h"

namespace quarrin {

enum class ServiceState : uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
  kContinuePending = 5,
  kPausePending = 6,
  kPaused = 7,
};

// "STOPPED", "START_PENDING", ... as `quarrinctl sc query` prints them.
std::string_view ServiceStateName(ServiceState state);
std::optional<ServiceState> ParseServiceState(std::string_view name);

// Control codes.
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlPause = 2;
inline constexpr uint32_t kControlContinue = 3;
inline constexpr uint32_t kControlInterrogate = 4;
inline constexpr uint32_t kControlShutdown = 5;

// Accepted-controls bits of a status report.
inline constexpr uint32_t kAcceptStop = 1;
inline constexpr uint32_t kAcceptPauseContinue = 2;
inline constexpr uint32_t kAcceptShutdown = 4;

struct ServiceStatus {
  ServiceState state = ServiceState::kStopped;
  uint32_t service_type = 0x110;
  uint32_t controls_accepted = 0;
  uint32_t wait_hint_ms = 5000;
  uint32_t exit_code = 0;
};

// Where a service process reports its state changes.
class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  // Returns false with a reason when the report could not be delivered.
  virtual bool Report(const ServiceStatus& status, std::string* error) = 0;
};

// The reporter for this process: the notify socket when NOTIFY_SOCKET is
// set, otherwise the status record of `service_name`; on Windows the service
// control manager (nobody when the process runs in the foreground).
std::unique_ptr<StatusReporter> MakeStatusReporter(const std::string& service_name);

// A failure the manager reports, with the system's text.
class ServiceManagerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ServiceRegistration {
  ServiceRegistration() = default;
  ServiceRegistration(std::string service_name, std::string display, std::string image)
      : name(std::move(service_name)),
        display_name(std::move(display)),
        image_path(std::move(image)) {}

  std::string name;
  std::string display_name;
  std::string image_path;
  uint32_t service_type = 0x110;  // own process, may interact with the desktop
  uint32_t start_type = 2;        // automatic
  uint32_t error_control = 1;     // normal
  std::vector<std::string> dependencies;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // "systemd", "built-in" or "service control manager".
  virtual std::string_view Kind() const = 0;
  // True when Register writes the service key itself (Windows); otherwise
  // the installer writes it.
  virtual bool KeepsServiceKey() const { return false; }
  // The manager's own part of installing and removing a service; the service
  // key in the registry is written by the installer. Throw ServiceManagerError.
  virtual void Register(const ServiceRegistration& registration) = 0;
  virtual void Unregister(const std::string& name) = 0;
  // Asks for the service to start; returns at once. Throws
  // ServiceManagerError when the request is refused (not installed, already
  // running, the launch failed).
  virtual void Start(const std::string& name) = 0;
  // Sends a control code; returns at once. Throws ServiceManagerError when
  // the service is not running or does not accept the code now.
  virtual void Control(const std::string& name, uint32_t code) = 0;
  // The state the service last reported; stopped when it is not running.
  virtual ServiceState Query(const std::string& name) = 0;
};

// The manager in charge: on Linux systemd when <root>/run/systemd/system
// exists, otherwise the built-in one. `registry` holds the service keys (ImagePath)
// and must outlive the manager.
std::unique_ptr<ServiceManager> MakeServiceManager(RegistryStore& registry);
// Linux only:
std::unique_ptr<ServiceManager> MakeBuiltinServiceManager(RegistryStore& registry);
std::unique_ptr<ServiceManager> MakeSystemdServiceManager();
// The unit that the systemd manager writes at install, named after the
// service. A package ships the same text (its unit is then enabled as it is).
std::string SystemdUnitText(const ServiceRegistration& registration);
bool SystemdInCharge();

// Asks the manager in charge to stop or start a service; both return at
// once. Stop: true when the request was accepted. Start: false only when the
// service is not installed (or the manager cannot be reached), true
// otherwise, whatever the start itself does.
bool RequestServiceStop(ServiceManager& manager, RegistryStore& registry, const std::string& name);
bool RequestServiceStart(ServiceManager& manager, RegistryStore& registry, const std::string& name);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SERVICE_SERVICE_MANAGER_H_
