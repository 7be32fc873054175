// Version numbers of executable files.
#ifndef QUARRIN_CORE_FILE_VERSION_H_
#define QUARRIN_CORE_FILE_VERSION_H_

#include <cstdint>
#include <string>

namespace quarrin {

struct tFileVersion {
  int32_t Major = 0;
  int32_t Minor = 0;
  int32_t Release = 0;
  int32_t Build = 0;
  std::string Text = "0.0.0.0";
};

struct tFileUpdate : tFileVersion {
  bool UpdateAvailable = false;
};

// "a.b.c.d" of four numbers.
std::string VersionText(int32_t major, int32_t minor, int32_t release, int32_t build);

// The fixed file version of the file's version resource; the neutral value
// (0.0.0.0) for a missing file, a folder, or a file without the resource.
// An empty name means the running executable; a relative name is looked up
// in the current directory.
tFileVersion GetFileVersion(const std::string& name);

}  // namespace quarrin

#endif  // QUARRIN_CORE_FILE_VERSION_H_
