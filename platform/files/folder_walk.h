// The walk of the drive behind the disk map: the visible top-level folders
// of the drive and the bytes below each.
//
// On Linux the drive is the file system that holds its root, and a
// top-level entry is a system entry when it is the mount point of another
// file system (its device differs from the root's), such as /proc or /sys;
// a hidden entry's name begins with ".". On Windows hidden and system
// entries carry those attributes. Neither gets a bar, nor does anything
// that is not a folder: files, and links whatever they point to.
#ifndef QUARRIN_PLATFORM_FILES_FOLDER_WALK_H_
#define QUARRIN_PLATFORM_FILES_FOLDER_WALK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quarrin {

// The total size in bytes of the regular files below `folder` at any depth.
// The walk never follows a link (a symbolic link, junction or mount point of
// a folder is not descended and a link to a file adds nothing, so no link
// can make it endless or count a folder twice), stays on the file system
// that holds `folder` (like du -x), and counts a folder it cannot open or
// list as 0. Sockets, pipes and device files add nothing. Each hard link of
// a file is counted, as a listing shows it. A trailing separator is allowed;
// `folder` itself being a link, or no folder, gives 0. On Linux two threads
// share the work. Safe for concurrent use.
int64_t FolderSize(const std::string& folder);

// The names of the visible top-level folders of drive_root in the order the
// listing returns them. A root that cannot be listed has none.
std::vector<std::string> DriveFolders(const std::string& drive_root);

// The path of the top-level folder `name` of drive_root.
std::string DriveFolderPath(const std::string& drive_root, const std::string& name);
// Its label on the disk map: "/" + name on Linux, the drive's root and the
// name on Windows (C:\Windows).
std::string DriveFolderLabel(const std::string& drive_root, const std::string& name);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_FOLDER_WALK_H_
