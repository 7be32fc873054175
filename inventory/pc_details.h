// The machine's details record, read through the registry (whose live view
// answers the system keys from the running machine).
#ifndef QUARRIN_INVENTORY_PC_DETAILS_H_
#define QUARRIN_INVENTORY_PC_DETAILS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/date_time.h"
#include "platform/registry_store.h"

namespace quarrin {

struct tPCDetails {
  std::string MachineName;
  std::string LastLogin;
  std::string RegisteredOwner;
  std::string RegisteredOrganisation;
  int32_t CPUSpeed = 0;
  std::string CPUId;
  std::string CPUName;
  std::string CurrentVersion;
  int32_t TotCPU = 0;
  std::string ProductID;
  std::string ProductName;
  std::string ServicePack;
  std::string SourcePath;
  std::string IEVersion;
  std::string PhysicalMemory;
  bool VMWare = false;
  DateTime InstallDate;
  int32_t NBNodeType = 0;
};

// True when the machine runs under the VMware hypervisor.
bool VMwareProbe();

// Clears *details and fills it; throws RegistryError when "InstallDate" is
// missing or not a number, or a text value has another type (the fields
// filled before the failure stay set). `vmware_probe` defaults to VMwareProbe.
void CollectPCDetails(RegistryStore& store, tPCDetails* details,
                      const std::function<bool()>& vmware_probe = {});

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_PC_DETAILS_H_
