#include "platform/files/entry_size.h"

#include <sys/stat.h>

namespace quarrin {

int64_t ListedEntrySize(const std::string& path) {
  struct stat st {};
  if (path.empty() || lstat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

}  // namespace quarrin
