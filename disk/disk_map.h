// The disk map: how many bytes each visible top-level folder of the system
// drive holds, as a horizontal bar chart.
//
// On this system the drive is the file system that holds SystemDriveRoot()
// and its folders are shown as "/" followed by their name (/usr, /home).
// A top-level entry is hidden when its name begins with "."; it is a system
// entry when it is the mount point of another file system (its device
// differs from the root's), such as /proc or /sys. Neither gets a bar, nor
// does anything that is not a folder: files, and symbolic links whatever
// they point to.
#ifndef QUARRIN_DISK_DISK_MAP_H_
#define QUARRIN_DISK_DISK_MAP_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quarrin {

inline constexpr int kDiskMapWidth = 790;
inline constexpr int kDiskMapHeight = 590;

// The total size in bytes of the regular files below `folder` at any depth.
// The walk never follows a symbolic link (a link to a folder is not
// descended and a link to a file adds nothing, so no link can make it
// endless or count a folder twice), stays on the file system that holds
// `folder` (like du -x), and counts a folder it cannot open or list as 0.
// Sockets, pipes and device files add nothing. Each hard link of a file is
// counted, as a listing shows it. A trailing "/" is allowed; `folder`
// itself being a symbolic link, or no folder, gives 0. Two threads share
// the work. Safe for concurrent use.
int64_t FolderSize(const std::string& folder);

struct FolderBar {
  std::string label;  // "/" + the folder's name
  int64_t bytes = 0;
};

// The names of the visible top-level folders of drive_root in the order the
// listing returns them (readdir order). A root that cannot be listed has none.
std::vector<std::string> DriveFolders(const std::string& drive_root);

// DriveFolders, each with its FolderSize.
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
