#include "inventory/pc_details.h"

#include <exception>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry.h"
#include "platform/system/hypervisor.h"
#include "platform/system/memory.h"

namespace quarrin {
namespace {

constexpr char kComputerNameKey[] = "\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\Computername";
constexpr char kWinLogonKey[] = "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
constexpr char kInternetExplorerKey[] = "\\SOFTWARE\\Microsoft\\Internet Explorer";
constexpr char kCurrentVersionKey[] = "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kProcessorsKey[] = "\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor";
constexpr char kNetBTKey[] = "\\SYSTEM\\CurrentControlSet\\Services\\NetBT\\Parameters";

// Without leading and trailing characters of code 32 or less.
std::string TrimControls(const std::string& text) {
  auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  size_t begin = 0, end = text.size();
  while (begin < end && !kept(text[begin])) ++begin;
  while (end > begin && !kept(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The processor fields and count; throws RegistryError when
// "CentralProcessor\0" or one of its values cannot be read, before counting.
void ReadProcessors(Registry& reg, tPCDetails* d) {
  OpenOnly(reg, std::string(kProcessorsKey) + "\\0");
  d->CPUSpeed = reg.ReadInteger("~MHz");
  d->CPUId = reg.ReadString("Identifier");
  d->CPUName = TrimControls(reg.ReadString("ProcessorNameString"));
  // The first number from 1 upwards whose key is missing: keys 0 to N-1 give
  // N. Looked up among the subkey names, read at once, rather than by opening
  // one key after another: the same answer in one store read, however many
  // processors there are.
  OpenOnly(reg, kProcessorsKey);
  const std::vector<std::string> names = reg.GetKeyNames();
  const std::set<std::string> present(names.begin(), names.end());
  d->TotCPU = 1;
  while (present.count(std::to_string(d->TotCPU)) != 0) ++d->TotCPU;
}

// True when the error comes from the store itself (locked, unreadable)
// rather than from a missing or mistyped value. The fallbacks below stand in
// for data the machine does not have; they must not hide a broken store.
bool StoreFailed(const RegistryError& error) {
  try {
    std::rethrow_if_nested(error);
  } catch (const StoreError&) {
    return true;
  } catch (...) {
  }
  return false;
}

int32_t NodeType(Registry& reg) {
  if (!OpenOnly(reg, kNetBTKey)) return 0;
  for (const char* name : {"NodeType", "DhcpNodeType"}) {
    try {
      return reg.ReadInteger(name);
    } catch (const RegistryError& error) {
      if (StoreFailed(error)) throw;
      // missing or not a number: the next source
    }
  }
  return 1;
}

}  // namespace

// The CPUID answer cannot change while the process runs, and in a guest
// every CPUID traps to the hypervisor; it is asked once.
bool VMwareProbe() {
  static const bool answer = HypervisorVendor() == "VMwareVMware";
  return answer;
}

void CollectPCDetails(RegistryStore& store, tPCDetails* details,
                      const std::function<bool()>& vmware_probe) {
  tPCDetails& d = *details;
  d = tPCDetails{};
  Registry reg(store, kAccessRead);
  reg.SetRootKey(RootKey::kLocalMachine);

  OpenOnly(reg, kComputerNameKey);
  d.MachineName = reg.ReadString("ComputerName");
  OpenOnly(reg, kWinLogonKey);
  d.LastLogin = reg.ReadString("DefaultUserName");
  OpenOnly(reg, kInternetExplorerKey);
  d.IEVersion = reg.ReadString("Version");

  OpenOnly(reg, kCurrentVersionKey);
  d.RegisteredOwner = reg.ReadString("RegisteredOwner");
  d.RegisteredOrganisation = reg.ReadString("RegisteredOrganization");
  d.ProductID = reg.ReadString("ProductId");
  d.ProductName = reg.ReadString("ProductName");
  d.ServicePack = reg.ReadString("CSDVersion");
  d.SourcePath = reg.ReadString("SourcePath");
  d.CurrentVersion = reg.ReadString("CurrentVersion");
  // No fallback: a missing or non-numeric value ends the collection here.
  const int32_t seconds = reg.ReadInteger("InstallDate");
  d.InstallDate = DateTime{(kUnixEpochDays * 86400.0 + seconds) / 86400.0};

  try {
    ReadProcessors(reg, &d);
  } catch (const RegistryError& error) {
    if (StoreFailed(error)) throw;
    // TotCPU keeps the count reached so far.
    d.CPUSpeed = 0;
    d.CPUId.clear();
    d.CPUName.clear();
  }

  d.PhysicalMemory = MemoryText();
  d.NBNodeType = NodeType(reg);
  d.VMWare = vmware_probe ? vmware_probe() : VMwareProbe();
}

}  // namespace quarrin
