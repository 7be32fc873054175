// The disk map: how many bytes each visible top-level folder of the system
// drive holds, as a horizontal bar chart.
//
// The drive is the one that holds SystemDriveRoot(), walked as
// platform/files/folder_walk.h says.
#ifndef QUARRIN_DISK_DISK_MAP_H_
#define QUARRIN_DISK_DISK_MAP_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files/folder_walk.h"

namespace quarrin {

inline constexpr int kDiskMapWidth = 790;
inline constexpr int kDiskMapHeight = 590;

struct FolderBar {
  std::string label;  // DriveFolderLabel
  int64_t bytes = 0;
};

// DriveFolders, each labelled with its DriveFolderLabel and measured with
// its FolderSize.
std::vector<FolderBar> MeasureDrive(const std::string& drive_root);

// Draws the bars as a 790 x 590 chart, the first bar at the bottom, and
// returns it as a baseline JPEG at quality 75: `caption` centred on one line
// at the top in Arial 10 pt; each bar 70 % of the space between neighbours,
// filled with a gradient; a pale yellow callout with the bar's label joined
// to its end by a 20-pixel line; the byte axis scaled to the largest bar
// with room for its callout. Throws ChartError or JpegError.
std::string DrawDiskMap(const std::string& caption, const std::vector<FolderBar>& bars);

// MeasureDrive then DrawDiskMap: of SystemDriveRoot(), or of drive_root.
// Nothing is cached; every call walks the drive again.
std::string MapDisk(const std::string& caption);
std::string MapDisk(const std::string& caption, const std::string& drive_root);

}  // namespace quarrin

#endif  // QUARRIN_DISK_DISK_MAP_H_
