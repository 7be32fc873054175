// The CPUID questions behind HypervisorVendor, shared by both systems.
#ifndef QUARRIN_PLATFORM_SYSTEM_HYPERVISOR_CPUID_H_
#define QUARRIN_PLATFORM_SYSTEM_HYPERVISOR_CPUID_H_

#include <cstring>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace quarrin {

inline std::string AskCpuidForHypervisor() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return "";
  if ((ecx & (1u << 31)) == 0) return "";  // no hypervisor present
  // The hypervisor leaves: EBX, ECX, EDX of 0x40000000 spell its vendor.
  __cpuid(0x40000000, eax, ebx, ecx, edx);
  char vendor[12];
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &ecx, 4);
  std::memcpy(vendor + 8, &edx, 4);
  return std::string(vendor, sizeof vendor);
#else
  return "";
#endif
}

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SYSTEM_HYPERVISOR_CPUID_H_
