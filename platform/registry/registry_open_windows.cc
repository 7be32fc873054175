#include "platform/registry/registry_open.h"

#include "platform/registry/registry_store_windows.h"

namespace quarrin {

// The machine's registry answers every key itself: there is no file to open
// and no live view over it.
OpenedRegistry OpenDefaultRegistry() {
  OpenedRegistry registry;
  registry.stored = OpenMachineRegistryStore();
  return registry;
}

}  // namespace quarrin
