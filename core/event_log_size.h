// The size cap administrators give the event log.
#ifndef QUARRIN_CORE_EVENT_LOG_SIZE_H_
#define QUARRIN_CORE_EVENT_LOG_SIZE_H_

#include <cstdint>
#include <string>

#include "platform/registry/registry_store.h"

namespace quarrin {

// The MaxSize value (REG_DWORD, bytes) under the event-log source key of
// `source`; kDefaultEventLogMaxBytes when it is missing, zero or not a
// REG_DWORD. Throws StoreError when the store fails.
uint64_t ReadEventLogMaxBytes(RegistryStore& store, const std::string& source);

}  // namespace quarrin

#endif  // QUARRIN_CORE_EVENT_LOG_SIZE_H_
