#include "platform/files/disk_space.h"

#include <sys/statvfs.h>

#include <limits>

#include "platform/files/paths.h"

namespace quarrin {

namespace {

// Sizes above INT64_MAX bytes cannot occur on a real file system; clamp
// rather than wrap should one report nonsense.
int64_t Bytes(unsigned long long blocks, unsigned long long fragment) {
  constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<int64_t>::max());
  if (fragment != 0 && blocks > kMax / fragment) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(blocks * fragment);
}

bool QueryPath(const std::string& path, int64_t* total, int64_t* free) {
  struct statvfs st{};
  if (statvfs(path.c_str(), &st) != 0 || st.f_blocks == 0) return false;
  *total = Bytes(st.f_blocks, st.f_frsize);
  *free = Bytes(st.f_bavail, st.f_frsize);
  return true;
}

class SystemDrive final : public DiskSpaceSource {
 public:
  bool Query(int64_t* total, int64_t* free) override {
    return QueryPath(SystemDriveRoot(), total, free);
  }
};

}  // namespace

bool StatvfsDiskSpace::Query(int64_t* total, int64_t* free) {
  return QueryPath(path_, total, free);
}

DiskSpaceSource& SystemDriveSpace() {
  static SystemDrive drive;
  return drive;
}

}  // namespace quarrin
