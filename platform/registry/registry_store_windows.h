// The registry store on Windows' own registry.
#ifndef QUARRIN_PLATFORM_REGISTRY_REGISTRY_STORE_WINDOWS_H_
#define QUARRIN_PLATFORM_REGISTRY_REGISTRY_STORE_WINDOWS_H_

#include <memory>

#include "platform/registry/registry_store.h"

namespace quarrin {

// The machine's registry: HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE and
// HKEY_USERS themselves (the 64-bit view). Names and text values are UTF-8
// here and UTF-16 in the registry; binary and DWORD data pass as they are.
//
// Unlike the SQLite store, the order of names is the registry's own: subkeys
// enumerate sorted, values usually in the order they were created. A change
// of several values is not one transaction (Atomically runs them one by one).
std::unique_ptr<RegistryStore> OpenMachineRegistryStore();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_REGISTRY_STORE_WINDOWS_H_
