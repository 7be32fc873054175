#include "core/event_log_size.h"

#include "core/registry.h"
#include "core/service_identity.h"
#include "platform/eventlog/event_log.h"

namespace quarrin {

uint64_t ReadEventLogMaxBytes(RegistryStore& store, const std::string& source) {
  Registry reg(store, kAccessRead);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (!reg.OpenKeyReadOnly(std::string(kEventLogSourcesKey) + source)) {
    return kDefaultEventLogMaxBytes;
  }
  try {
    const auto bytes = static_cast<uint32_t>(reg.ReadInteger("MaxSize"));
    return bytes == 0 ? kDefaultEventLogMaxBytes : bytes;
  } catch (const RegistryError&) {
    return kDefaultEventLogMaxBytes;  // missing or of another type
  }
}

}  // namespace quarrin
