// Installing and removing a service: its key with the registration values,
// the service manager's own part, and the service's after-install handlers.
// Message boxes are lines: information on standard output, failures on
// standard error.
#ifndef QUARRIN_SERVICE_INSTALLER_H_
#define QUARRIN_SERVICE_INSTALLER_H_

#include <functional>
#include <iosfwd>
#include <string>

#include "platform/registry/registry_store.h"
#include "platform/service/service_manager.h"

namespace quarrin {

struct InstallRequest {
  std::string name;
  std::string display_name;
  std::string image_path;
  bool silent = false;
  std::function<void()> after_install;    // may throw: the install is undone
  std::function<void()> after_uninstall;  // may throw: reported as a failure
};

// Returns the process exit status: 0 on success.
int InstallService(RegistryStore& registry, ServiceManager& manager, const InstallRequest& request,
                   std::ostream& out, std::ostream& err);
int UninstallService(RegistryStore& registry, ServiceManager& manager,
                     const InstallRequest& request, std::ostream& out, std::ostream& err);

// The service's event-log source: its key below the event-log sources,
// naming the running executable as the file of its messages, with the three
// entry types. Neither changes any open key.
void AddEventLogSource(RegistryStore& registry, const std::string& service);
void RemoveEventLogSource(RegistryStore& registry, const std::string& service);

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_INSTALLER_H_
