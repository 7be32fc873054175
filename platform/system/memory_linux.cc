#include <malloc.h>
#include <sys/sysinfo.h>

#include <fstream>
#include <sstream>

#include "platform/system/memory.h"

namespace quarrin {

uint64_t TotalPhysicalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) == 0 && info.totalram > 0) {
    return static_cast<uint64_t>(info.totalram) * (info.mem_unit ? info.mem_unit : 1);
  }
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    std::istringstream fields(line);
    std::string name;
    uint64_t kib = 0;
    if (fields >> name >> kib && name == "MemTotal:") return kib * 1024;
  }
  return 0;
}

void LimitHeapArenas(int count) { mallopt(M_ARENA_MAX, count); }

void ReleaseFreeHeap() { malloc_trim(0); }

}  // namespace quarrin
