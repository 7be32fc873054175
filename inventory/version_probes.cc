#include "inventory/version_probes.h"

#include <optional>
#include <string_view>

#include "core/registry.h"
#include "platform/text/ascii.h"
#include "platform/version/version_resource.h"

namespace quarrin {

namespace {

constexpr size_t kMaxTextLength = 254;

}  // namespace

void GetFileVersionText(const std::string& value_name, const std::string& file_name,
                        std::string* out) {
  out->clear();
  const std::string_view name = value_name.empty() ? std::string_view("FileVersion") : value_name;
  // As in GetFileVersion: the running image itself, and the name as given.
  const std::optional<VersionResource> resource =
      ReadVersionResource(file_name.empty() ? "/proc/self/exe" : file_name);
  if (!resource) return;
  // A stamp carries one translation and one string table, the one that
  // translation names, so the first translation's table is always this one.
  // Names match without regard to case, as version-resource lookups do.
  for (const auto& [key, value] : resource->strings) {
    if (EqualsIgnoringAsciiCase(key, name)) {
      *out = value.substr(0, kMaxTextLength);
      return;
    }
  }
}

void GetBDEVersion(RegistryStore& store, tFileVersion* version) {
  *version = tFileVersion{};
  Registry reg(store);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (!reg.OpenKey("\\SOFTWARE\\Borland\\Database Engine", false)) return;
  // Joined as they are: a folder without its trailing separator names no
  // file, and a missing file gives the neutral value.
  *version = GetFileVersion(reg.ReadString("DLLPath") + "IDAPI32.dll");
}

}  // namespace quarrin
