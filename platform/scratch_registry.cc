#include "platform/scratch_registry.h"

namespace quarrin {

std::unique_ptr<RegistryStore> OpenScratchRegistryStore(const std::string& folder) {
  return OpenSqliteRegistryStore(folder + "/registry.db");
}

}  // namespace quarrin
