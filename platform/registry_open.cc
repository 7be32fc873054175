#include "platform/registry_open.h"

#include <string>

#include "platform/paths.h"
#include "platform/private_files.h"

namespace quarrin {

OpenedRegistry OpenDefaultRegistry() {
  try {
    MakePrivateFolder(StateDir());
    MakePrivateFile(RegistryDbPath());
  } catch (const std::exception& e) {
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
