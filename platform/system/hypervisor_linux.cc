#include "platform/system/hypervisor.h"

#if defined(__x86_64__) || defined(__i386__)
#include <asm/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "platform/system/hypervisor_cpuid.h"

namespace quarrin {

std::string HypervisorVendor() {
#if defined(__x86_64__) || defined(__i386__)
  // CPUID raises a fault only where the process has had it made to fault
  // (arch_prctl ARCH_SET_CPUID, as record-and-replay tools do); ask first.
  // Kernels without the call answer -1 and never fault.
  if (syscall(SYS_arch_prctl, ARCH_GET_CPUID, 0) == 0) return "";
#endif
  return AskCpuidForHypervisor();
}

}  // namespace quarrin
