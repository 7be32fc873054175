// Reads the version resource stamped into an executable (see version_stamp_linux.h).
#ifndef QUARRIN_PLATFORM_VERSION_VERSION_RESOURCE_H_
#define QUARRIN_PLATFORM_VERSION_VERSION_RESOURCE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrin {

struct VersionResource {
  uint16_t file_version[4] = {0, 0, 0, 0};
  uint16_t product_version[4] = {0, 0, 0, 0};
  uint16_t language = 0;
  uint16_t code_page = 0;
  std::vector<std::pair<std::string, std::string>> strings;  // in stamp order
};

// The resource of the executable file at path: on Linux an ELF file (32- or
// 64-bit, either byte order) with its stamp, on Windows a file with a
// VERSIONINFO resource (a relative path is taken from the current directory,
// never from the system's search path). nullopt for a missing file, anything
// but a regular file, a file of another kind, or one without a well-formed
// resource. Safe on any bytes: a truncated or corrupt file gives nullopt.
// Never throws.
std::optional<VersionResource> ReadVersionResource(const std::string& path);
// The resource of the running executable: the image actually running, even
// when its file has been replaced since.
std::optional<VersionResource> ReadOwnVersionResource();
// The same for an ELF image held in memory.
std::optional<VersionResource> ParseVersionResource(std::string_view image);

// The ELF header facts that tell whether a file can run on this machine.
struct ElfIdentity {
  bool is_64bit = false;
  bool little_endian = false;
  uint16_t type = 0;     // e_type: 2 executable, 3 shared object / PIE
  uint16_t machine = 0;  // e_machine
};
// nullopt for anything but a regular file with a whole ELF header.
std::optional<ElfIdentity> ReadElfIdentity(const std::string& path);
// The identity of the running executable.
ElfIdentity OwnElfIdentity();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_VERSION_VERSION_RESOURCE_H_
