// The size of one entry of a folder as the system's folder listing reports
// it.
#ifndef QUARRIN_PLATFORM_FILES_ENTRY_SIZE_H_
#define QUARRIN_PLATFORM_FILES_ENTRY_SIZE_H_

#include <cstdint>
#include <string>

namespace quarrin {

// The size of the directory entry at path (a folder or a symbolic link
// included, the link itself not followed); 0 when there is none. The path
// names one entry: no wildcards.
int64_t ListedEntrySize(const std::string& path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_ENTRY_SIZE_H_
