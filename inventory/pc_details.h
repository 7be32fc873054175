// The machine's details record, read through the registry (whose live view
// answers the system keys from the running machine).
#ifndef QUARRIN_INVENTORY_PC_DETAILS_H_
#define QUARRIN_INVENTORY_PC_DETAILS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/time/date_time.h"
#include "platform/registry/registry_store.h"

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

// True iff CPUID reports a hypervisor whose vendor is "VMwareVMware". Never
// executes a faulting instruction: false where the process has CPUID made to
// fault, and on processors other than x86. Safe for concurrent use.
bool VMwareProbe();

// Clears *details and fills it from HKEY_LOCAL_MACHINE of `store`, MemoryText
// and the VMware probe (`vmware_probe`, VMwareProbe when empty).
//
// A missing key or text value leaves its field empty. The processor fields
// come from CentralProcessor\0; when it or one of its values cannot be read
// they are 0 and empty and TotCPU keeps the count reached (0 then). NBNodeType
// is "NodeType", else "DhcpNodeType", else 1, and 0 without the NetBT
// parameters key.
//
// Throws RegistryError "Failed to get data for 'InstallDate'" or "Invalid
// data type for '<name>'" when "InstallDate" is missing or not a number, or a
// text value has another type; the fields read before stay set, the later
// ones cleared. A store that fails outright (StoreError, or nested in a
// RegistryError) is passed on, never taken for missing data.
//
// Keeps no state: calls may run on several threads at once, each with its
// own record.
void CollectPCDetails(RegistryStore& store, tPCDetails* details,
                      const std::function<bool()>& vmware_probe = {});

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_PC_DETAILS_H_
