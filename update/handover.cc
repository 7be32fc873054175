#include "update/handover.h"

#include <exception>
#include <filesystem>

#include "core/registry.h"
#include "core/service_identity.h"
#include "platform/text/utf8.h"

namespace quarrin {

std::string StarterKey() { return kServicesKey + std::string(kStarterServiceName); }

std::string_view FileNameOf(std::string_view path) {
  const size_t length = Utf8FromPath(PathFromUtf8(path).filename()).size();
  return path.substr(path.size() - length);
}

std::string DownloadPathBeside(std::string_view exe_path) {
  const std::filesystem::path exe = PathFromUtf8(exe_path);
  return Utf8FromPath(exe.parent_path() / PathFromUtf8("~" + Utf8FromPath(exe.filename())));
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

}  // namespace quarrin
