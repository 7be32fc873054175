#include "platform/system/hypervisor.h"

#include "platform/system/hypervisor_cpuid.h"

namespace quarrin {

// Windows has no way to make CPUID fault in a process: it is always safe.
std::string HypervisorVendor() { return AskCpuidForHypervisor(); }

}  // namespace quarrin
