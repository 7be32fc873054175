#include "core/file_version.h"

#include <optional>

#include "platform/version/version_resource.h"

namespace quarrin {

std::string VersionText(int32_t major, int32_t minor, int32_t release, int32_t build) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) +
         "." + std::to_string(build);
}

tFileVersion GetFileVersion(const std::string& name) {
  tFileVersion version;
  // The running executable is read from its image actually running, even
  // when the file on disk has been replaced since.
  //
  // The name is used exactly as given: where the file system tells upper
  // from lower case, lower-casing it first, as a case-blind file system
  // would allow, would name another file or none.
  const std::optional<VersionResource> resource =
      name.empty() ? ReadOwnVersionResource() : ReadVersionResource(name);
  if (!resource) return version;
  version.Major = resource->file_version[0];
  version.Minor = resource->file_version[1];
  version.Release = resource->file_version[2];
  version.Build = resource->file_version[3];
  version.Text = VersionText(version.Major, version.Minor, version.Release, version.Build);
  return version;
}

}  // namespace quarrin
