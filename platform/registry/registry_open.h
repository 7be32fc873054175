// The registry of this machine as the executables open it.
#ifndef QUARRIN_PLATFORM_REGISTRY_REGISTRY_OPEN_H_
#define QUARRIN_PLATFORM_REGISTRY_REGISTRY_OPEN_H_

#include <memory>

#include "platform/registry/registry_store.h"
#include "platform/registry/system_facts.h"

namespace quarrin {

// The stored registry and, unless switched off, the live view over it.
struct OpenedRegistry {
  std::unique_ptr<RegistryStore> stored;
  std::unique_ptr<SystemFacts> facts;   // null without the live view
  std::unique_ptr<RegistryStore> view;  // stored + facts; null without the live view
  // The store to use: the live view when there is one, else the stored one.
  RegistryStore& store() { return view ? *view : *stored; }
};

// Opens RegistryDbPath(), creating the state folder and the file when
// missing, with the live facts of this machine unless QUARRIN_LIVE_FACTS=0.
// Throws StoreError naming the folder or file when it cannot. On Windows:
// the machine's own registry, without a live view.
OpenedRegistry OpenDefaultRegistry();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_REGISTRY_OPEN_H_
