// Size and free space of the system drive.
#ifndef QUARRIN_PLATFORM_FILES_DISK_SPACE_H_
#define QUARRIN_PLATFORM_FILES_DISK_SPACE_H_

#include <cstdint>
#include <string>
#include <utility>

namespace quarrin {

// A source of the system drive's size, so that the sampler can be tested
// with any figures. Implementations are safe for concurrent use.
class DiskSpaceSource {
 public:
  virtual ~DiskSpaceSource() = default;
  // Fills *total with the drive's size and *free with the bytes available to
  // the service's account, both in bytes. Returns false, leaving both alone,
  // when the drive cannot be queried.
  virtual bool Query(int64_t* total, int64_t* free) = 0;
};

// statvfs(3) of a folder: total = blocks x fragment size, free = blocks
// available to unprivileged users x fragment size. A file system that
// reports no blocks at all counts as a failed query: it has no size to
// measure against.
class StatvfsDiskSpace final : public DiskSpaceSource {
 public:
  explicit StatvfsDiskSpace(std::string path) : path_(std::move(path)) {}
  bool Query(int64_t* total, int64_t* free) override;

 private:
  std::string path_;
};

// The system drive: StatvfsDiskSpace of SystemDriveRoot() (read when the
// query runs, so QUARRIN_ROOT set later still counts).
DiskSpaceSource& SystemDriveSpace();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_DISK_SPACE_H_
