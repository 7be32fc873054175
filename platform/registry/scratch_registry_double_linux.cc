#include "platform/registry/scratch_registry_double.h"

namespace quarrin {

std::unique_ptr<RegistryStore> OpenScratchRegistryStore(const std::string& folder) {
  return OpenSqliteRegistryStore(folder + "/registry.db");
}

}  // namespace quarrin
