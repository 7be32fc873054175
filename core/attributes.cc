#include "core/attributes.h"

#include "core/registry.h"
#include "core/service_identity.h"

namespace quarrin {

std::string ServiceKeyPath() { return std::string(kServicesKey) + kServiceName; }

void ReadAttributes(RegistryStore& store, const std::string& default_download_url,
                    tRegAttributes* attributes) {
  Registry registry(store, kAccessReadWrite);
  registry.SetRootKey(RootKey::kLocalMachine);
  if (!registry.OpenKey(ServiceKeyPath(), false)) return;
  attributes->SerialNo = registry.ReadString("SerialNo");
  attributes->InstallDate = registry.ReadString("InstallDate");
  attributes->AquisitionDate = registry.ReadString("AquisitionDate");
  // A comment set over HTTP is stored as "Comments"; one placed by other
  // means as "Comment" takes precedence.
  attributes->Comment = registry.ReadString("Comment");
  if (attributes->Comment.empty()) attributes->Comment = registry.ReadString("Comments");
  attributes->DownloadURL = registry.ReadString("DownloadURL");
  if (attributes->DownloadURL.empty()) attributes->DownloadURL = default_download_url;
  registry.CloseKey();
}

void StoreAttributes(RegistryStore& store, const std::string& version_text,
                     const tRegAttributes& attributes) {
  Registry registry(store, kAccessReadWrite);
  registry.SetRootKey(RootKey::kLocalMachine);
  if (!registry.OpenKey(ServiceKeyPath(), false)) {
    throw RegistryError("The service key HKEY_LOCAL_MACHINE" + ServiceKeyPath() +
                        " does not exist");
  }
  registry.WriteString("Description", "Version: " + version_text);
  auto write = [&](const char* name, const std::string& value) {
    if (!value.empty()) registry.WriteString(name, value);
  };
  write("SerialNo", attributes.SerialNo);
  write("InstallDate", attributes.InstallDate);
  write("AquisitionDate", attributes.AquisitionDate);
  write("Comments", attributes.Comment);
  registry.CloseKey();
}

void WriteAttributes(RegistryStore& store, const std::string& version_text,
                     const tRegAttributes& attributes) noexcept {
  try {
    StoreAttributes(store, version_text, attributes);
  } catch (...) {
    // Attributes are best kept; a store that fails here fails its next
    // reader too, which reports it.
  }
}

}  // namespace quarrin
