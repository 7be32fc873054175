// The walk of the drive, apart from the drawing: the agent measures the
// drive itself and draws only in the drawing module.
#include <string>
#include <vector>

#include "disk/disk_map.h"

namespace quarrin {

std::vector<FolderBar> MeasureDrive(const std::string& drive_root) {
  std::vector<FolderBar> bars;
  for (const std::string& name : DriveFolders(drive_root)) {
    bars.push_back(FolderBar{DriveFolderLabel(drive_root, name),
                             FolderSize(DriveFolderPath(drive_root, name))});
  }
  return bars;
}

}  // namespace quarrin
