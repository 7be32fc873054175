// A drive whose figures a test sets.
#ifndef QUARRIN_PLATFORM_FILES_FIXED_DRIVE_DOUBLE_H_
#define QUARRIN_PLATFORM_FILES_FIXED_DRIVE_DOUBLE_H_

#include <cstdint>

#include "platform/files/disk_space.h"

namespace quarrin {

class FixedDrive final : public DiskSpaceSource {
 public:
  explicit FixedDrive(int64_t total = 3000, int64_t free = 990, bool answering = true)
      : total_bytes(total), free_bytes(free), answers(answering) {}

  bool Query(int64_t* total, int64_t* free) override {
    if (!answers) return false;
    *total = total_bytes;
    *free = free_bytes;
    return true;
  }

  int64_t total_bytes;
  int64_t free_bytes;
  bool answers;  // false: the drive cannot be measured
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_FIXED_DRIVE_DOUBLE_H_
