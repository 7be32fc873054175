// The update manifest as the maker's site serves it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/file_version.h"
#include "update/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  quarrin::tFileVersion current;
  current.Major = 1;
  quarrin::tFileUpdate update;
  quarrin::ParseManifestVersion(body, "", current, &update);
  quarrin::ParseManifestValue(body, "Debug");
  quarrin::ParseManifestValue(body, "Syslog");
  return 0;
}
