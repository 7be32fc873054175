#include "platform/registry/registry_open.h"

#include <string>

#include "platform/files/paths.h"
#include "platform/files/private_files.h"

namespace quarrin {

OpenedRegistry OpenDefaultRegistry() {
  try {
    EnsureStateFolder();
    MakePrivateFile(RegistryDbPath());
  } catch (const std::runtime_error& e) {
    throw StoreError(e.what());
  }
  OpenedRegistry registry;
  registry.stored = OpenSqliteRegistryStore(RegistryDbPath());
  if (LiveFactsEnabled()) {
    registry.facts = LinuxSystemFacts();
    registry.view = WithLiveFacts(*registry.stored, *registry.facts);
  }
  return registry;
}

}  // namespace quarrin
