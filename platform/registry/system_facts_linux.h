// The files the facts of this Linux machine are read from.
#ifndef QUARRIN_PLATFORM_REGISTRY_SYSTEM_FACTS_LINUX_H_
#define QUARRIN_PLATFORM_REGISTRY_SYSTEM_FACTS_LINUX_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/registry/system_facts.h"

namespace quarrin {

// The machine's own files by default; tests point them at fixture files. The
// host name and the kernel release always come from the running kernel.
struct LinuxFactFiles {
  std::string cpuinfo = "/proc/cpuinfo";
  // Holds cpu<N>/cpufreq/cpuinfo_max_freq, N the kernel's processor number.
  std::string cpu_sysfs = "/sys/devices/system/cpu";
  // The first of these that can be read.
  std::vector<std::string> os_release = {"/etc/os-release", "/usr/lib/os-release"};
  std::string machine_id = "/etc/machine-id";
  std::string wtmp = "/var/log/wtmp";
  // Its file system's birth time is the install date.
  std::string root = "/";
};

// LinuxSystemFacts() reads the defaults above.
std::unique_ptr<SystemFacts> LinuxSystemFacts(const LinuxFactFiles& files);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_SYSTEM_FACTS_LINUX_H_
