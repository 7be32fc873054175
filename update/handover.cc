#include "update/handover.h"

#include <exception>
#include <filesystem>
#include <optional>

#include "core/registry.h"
#include "core/service_identity.h"
#include "platform/version_resource.h"

namespace quarrin {

std::string StarterKey() { return kServicesKey + std::string(kStarterServiceName); }

std::string_view FileNameOf(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string DownloadPathBeside(std::string_view exe_path) {
  const std::filesystem::path exe(exe_path);
  return (exe.parent_path() / ("~" + exe.filename().string())).string();
}

std::string HandOverPath(std::string_view exe_path) {
  std::string path(exe_path);
  std::string_view name = FileNameOf(exe_path);
  if (name.empty()) return path;
  // The name always occurs at least once: at the end.
  path.insert(path.find(name), "~");
  return path;
}

bool WriteHandOverValues(RegistryStore& registry, const std::string& service_update,
                         const std::string& target_service) {
  try {
    Registry reg(registry, kAccessReadWrite);
    reg.SetRootKey(RootKey::kLocalMachine);
    if (!reg.OpenKey(StarterKey(), false)) return false;
    reg.WriteString(kServiceUpdateValue, service_update);
    reg.WriteString(kTargetServiceValue, target_service);
    reg.CloseKey();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void RequestRestartThroughStarter(ServiceManager& manager, RegistryStore& registry,
                                  const std::string& service_name) {
  // The stop goes out first: it only takes effect when this service's main
  // loop next handles control requests, after the check has returned, and
  // the starter waits for it.
  try {
    RequestServiceStop(manager, registry, service_name);
  } catch (const std::exception&) {
    // A refused request is not reported: the events already tell the story.
  }
  try {
    RequestServiceStart(manager, registry, kStarterServiceName);
  } catch (const std::exception&) {
  }
}

bool ExecutableForThisMachine(const std::string& path) {
  std::optional<ElfIdentity> file = ReadElfIdentity(path);
  if (!file) return false;
  ElfIdentity own = OwnElfIdentity();
  bool runnable_type = file->type == 2 || file->type == 3;  // ET_EXEC, ET_DYN
  return runnable_type && file->is_64bit == own.is_64bit &&
         file->little_endian == own.little_endian && file->machine == own.machine;
}

}  // namespace quarrin
