// Whether the program runs in a guest of a hypervisor, and whose.
#ifndef QUARRIN_PLATFORM_SYSTEM_HYPERVISOR_H_
#define QUARRIN_PLATFORM_SYSTEM_HYPERVISOR_H_

#include <string>

namespace quarrin {

// The 12-character vendor that the hypervisor gives in CPUID (for example
// "VMwareVMware"); empty on bare metal, on processors without CPUID and
// where CPUID cannot be asked safely. Asks the processor on every call.
std::string HypervisorVendor();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SYSTEM_HYPERVISOR_H_
