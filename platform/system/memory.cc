#include "platform/system/memory.h"

namespace quarrin {

std::string MemoryTextFromBytes(uint64_t bytes) { return std::to_string(bytes >> 20) + "MB"; }

std::string MemoryText() { return MemoryTextFromBytes(TotalPhysicalMemory()); }

}  // namespace quarrin
