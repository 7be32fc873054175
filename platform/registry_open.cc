#include "platform/registry_open.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/paths.h"

namespace quarrin {

OpenedRegistry OpenDefaultRegistry() {
  const std::string dir = StateDir();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::error_code ignored;
  if (ec && !std::filesystem::is_directory(dir, ignored)) {
    throw StoreError(dir + ": cannot create the state folder: " + ec.message());
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
