#include "service/installer.h"

#include <ostream>

#include "core/registry.h"
#include "core/service_identity.h"
#include "platform/files/paths.h"

namespace quarrin {
namespace {

std::string ServiceKey(const std::string& name) { return kServicesKey + name; }

void CreateServiceKey(RegistryStore& store, const InstallRequest& r) {
  Registry reg(store, kAccessFull);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (reg.KeyExists(ServiceKey(r.name))) {
    throw ServiceManagerError("The specified service already exists.");
  }
  reg.CreateKey(ServiceKey(r.name));
  if (!reg.OpenKey(ServiceKey(r.name), false)) {
    throw ServiceManagerError("The service key could not be opened.");
  }
  reg.WriteInteger("Type", kServiceType);
  reg.WriteInteger("Start", kServiceStartAuto);
  reg.WriteInteger("ErrorControl", kServiceErrorNormal);
  reg.WriteExpandString("ImagePath", r.image_path);
  reg.WriteString("DisplayName", r.display_name);
  reg.WriteString("ObjectName", kServiceAccount);
}

void DeleteServiceKey(RegistryStore& store, const std::string& name) {
  Registry reg(store, kAccessFull);
  reg.SetRootKey(RootKey::kLocalMachine);
  reg.DeleteKey(ServiceKey(name));
}

ServiceRegistration Registration(const InstallRequest& r) {
  ServiceRegistration registration;
  registration.name = r.name;
  registration.display_name = r.display_name;
  registration.image_path = r.image_path;
  registration.service_type = static_cast<uint32_t>(kServiceType);
  registration.start_type = static_cast<uint32_t>(kServiceStartAuto);
  registration.error_control = static_cast<uint32_t>(kServiceErrorNormal);
  return registration;
}

}  // namespace

int InstallService(RegistryStore& registry, ServiceManager& manager, const InstallRequest& r,
                   std::ostream& out, std::ostream& err) {
  // Where the manager keeps the service key itself, it also says whether the
  // service exists.
  const bool keys = !manager.KeepsServiceKey();
  try {
    if (keys) CreateServiceKey(registry, r);
    try {
      manager.Register(Registration(r));
    } catch (...) {
      if (keys) DeleteServiceKey(registry, r.name);
      throw;
    }
    try {
      if (r.after_install) r.after_install();
    } catch (...) {
      try {
        manager.Unregister(r.name);
      } catch (const std::exception&) {
        // The install failure is what gets reported.
      }
      if (keys) DeleteServiceKey(registry, r.name);
      throw;
    }
  } catch (const std::exception& e) {
    err << "Service \"" << r.display_name << "\" failed to install with error: \"" << e.what()
        << "\"" << std::endl;
    return 1;
  }
  if (!r.silent) out << "Service installed successfully" << std::endl;
  return 0;
}

int UninstallService(RegistryStore& registry, ServiceManager& manager, const InstallRequest& r,
                     std::ostream& out, std::ostream& err) {
  const bool keys = !manager.KeepsServiceKey();
  try {
    if (keys && !registry.KeyExists(RootKey::kLocalMachine, ServiceKey(r.name).substr(1))) {
      throw ServiceManagerError("The specified service does not exist as an installed service.");
    }
    manager.Unregister(r.name);
    if (keys) DeleteServiceKey(registry, r.name);
    if (r.after_uninstall) r.after_uninstall();
  } catch (const std::exception& e) {
    err << "Service \"" << r.display_name << "\" failed to uninstall with error: \"" << e.what()
        << "\"" << std::endl;
    return 1;
  }
  if (!r.silent) out << "Service uninstalled successfully" << std::endl;
  return 0;
}

void AddEventLogSource(RegistryStore& registry, const std::string& service) {
  Registry reg(registry, kAccessReadWrite);
  reg.SetRootKey(RootKey::kLocalMachine);
  const std::string source_key = kEventLogSourcesKey + service;
  reg.CreateKey(source_key);
  if (reg.OpenKey(source_key, false)) {
    reg.WriteString("EventMessageFile", ExecutablePath());
    reg.WriteInteger("TypesSupported", 7);
    reg.CloseKey();
  }
}

void RemoveEventLogSource(RegistryStore& registry, const std::string& service) {
  Registry reg(registry, kAccessReadWrite);
  reg.SetRootKey(RootKey::kLocalMachine);
  reg.DeleteKey(kEventLogSourcesKey + service);
}

}  // namespace quarrin
