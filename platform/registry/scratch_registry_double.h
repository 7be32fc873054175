// A registry store of its own, for tests that must not touch the machine's.
#ifndef QUARRIN_PLATFORM_REGISTRY_SCRATCH_REGISTRY_DOUBLE_H_
#define QUARRIN_PLATFORM_REGISTRY_SCRATCH_REGISTRY_DOUBLE_H_

#include <memory>
#include <string>

#include "platform/registry/registry_store.h"

namespace quarrin {

// An empty store that the system's registry store stands behind: on Linux
// the SQLite store in `folder`; on Windows a key of its own below
// HKEY_CURRENT_USER (`folder` unused) holding one key per root, removed with
// everything in it when the store goes. Throws StoreError when it cannot.
std::unique_ptr<RegistryStore> OpenScratchRegistryStore(const std::string& folder);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_SCRATCH_REGISTRY_DOUBLE_H_
