#include "platform/system/memory.h"

#include <malloc.h>
#include <windows.h>

namespace quarrin {

uint64_t TotalPhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

// The process heap of Windows has no per-thread arenas to limit.
void LimitHeapArenas(int) {}

void ReleaseFreeHeap() { _heapmin(); }

}  // namespace quarrin
