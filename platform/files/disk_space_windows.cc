#include "platform/files/disk_space.h"

#include <windows.h>

#include <limits>

namespace quarrin {

namespace {

int64_t Bytes(ULONGLONG value) {
  constexpr auto kMax = static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(value > kMax ? kMax : value);
}

// The drive Windows itself is on: "C:\" of "C:\Windows".
class SystemDrive final : public DiskSpaceSource {
 public:
  bool Query(int64_t* total, int64_t* free) override {
    wchar_t windows[MAX_PATH];
    const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n < 3 || n >= MAX_PATH || windows[1] != L':') return false;
    const wchar_t root[] = {windows[0], L':', L'\\', L'\0'};
    ULARGE_INTEGER available, size, all_free;
    if (!GetDiskFreeSpaceExW(root, &available, &size, &all_free) || size.QuadPart == 0) {
      return false;
    }
    *total = Bytes(size.QuadPart);
    *free = Bytes(available.QuadPart);  // what the service's account may use
    return true;
  }
};

}  // namespace

DiskSpaceSource& SystemDriveSpace() {
  static SystemDrive drive;
  return drive;
}

}  // namespace quarrin
