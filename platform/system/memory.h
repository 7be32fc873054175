// The memory figure of the inventory and the startup record.
#ifndef QUARRIN_PLATFORM_SYSTEM_MEMORY_H_
#define QUARRIN_PLATFORM_SYSTEM_MEMORY_H_

#include <cstdint>
#include <string>

namespace quarrin {

// Whole mebibytes of bytes, rounded down, followed by "MB" without a blank:
// 536,281,088 gives "511MB".
std::string MemoryTextFromBytes(uint64_t bytes);

// The computer's total physical memory in bytes; 0 when the system cannot
// tell. Linux: sysinfo, or MemTotal of /proc/meminfo when that fails.
// Windows: GlobalMemoryStatusEx.
uint64_t TotalPhysicalMemory();

// MemoryTextFromBytes of TotalPhysicalMemory ("0MB" when it cannot tell).
std::string MemoryText();

// Caps the C library's heap arenas at `count`. Left alone, glibc gives the
// threads of a process up to eight arenas per core, and a server that
// answers each connection on a thread of its own keeps the free memory of
// every one of them resident.
void LimitHeapArenas(int count);

// Gives the heap's free memory back to the system. A burst of requests
// leaves free memory spread over the heap, which the C library would keep
// resident for good.
void ReleaseFreeHeap();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SYSTEM_MEMORY_H_
