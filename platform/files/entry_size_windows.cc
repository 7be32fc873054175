// The entry's size as a folder listing (FindFirstFileExW) reports it: 0 for
// a folder, a reparse point's own size rather than its target's.
#include "platform/files/entry_size.h"

#include <windows.h>

#include <optional>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

int64_t ListedEntrySize(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return 0;
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return 0;
  WIN32_FIND_DATAW found;
  HANDLE find =
      FindFirstFileExW(wide->c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  return static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) |
                              found.nFileSizeLow);
}

}  // namespace quarrin
