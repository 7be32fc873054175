// The folder walk behind the disk map, with FindFirstFileExW: one listing
// a folder, whose entries carry their attributes and sizes, so no entry
// needs a query of its own.
#include "platform/files/folder_walk.h"

#include <windows.h>

#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The folder with backslashes and without trailing separators ("C:" keeps
// one, as "C:" alone names the drive's current folder), as an extended path
// ("\\?\C:\...") when it starts with a drive letter, so that depth is not
// bounded by MAX_PATH. nullopt for text that is not UTF-8 or empty.
std::optional<std::wstring> FolderPath(const std::string& folder) {
  std::optional<std::wstring> path = WideFromUtf8(folder);
  if (!path || path->empty()) return std::nullopt;
  for (wchar_t& c : *path) {
    if (c == L'/') c = L'\\';
  }
  while (path->size() > 1 && IsSeparator(path->back())) path->pop_back();
  const bool drive = path->size() >= 2 && (*path)[1] == L':' && std::iswalpha((*path)[0]);
  if (drive && path->size() == 2) *path += L'\\';
  if (drive && path->size() >= 3 && (*path)[2] == L'\\') path->insert(0, L"\\\\?\\");
  return path;
}

std::wstring Join(const std::wstring& folder, const wchar_t* name) {
  return folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Calls visit for every entry of the folder but "." and ".."; false when the
// folder cannot be listed.
template <typename Visit>
bool List(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(Join(folder, L"*").c_str(), FindExInfoBasic, &data,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    if (!IsDotOrDotDot(data.cFileName)) visit(data);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

}  // namespace

int64_t FolderSize(const std::string& folder) {
  const std::optional<std::wstring> root = FolderPath(folder);
  if (!root) return 0;
  const DWORD attributes = GetFileAttributesW(root->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolder(attributes) || IsLink(attributes)) {
    return 0;
  }
  int64_t total = 0;
  std::vector<std::wstring> pending{*root};
  while (!pending.empty()) {
    const std::wstring current = std::move(pending.back());
    pending.pop_back();
    List(current, [&](const WIN32_FIND_DATAW& entry) {
      if (IsFolder(entry.dwFileAttributes)) {
        // Junctions, mount points and links to folders are not descended.
        if (!IsLink(entry.dwFileAttributes)) pending.push_back(Join(current, entry.cFileName));
      } else if (!IsLink(entry.dwFileAttributes) || entry.dwReserved0 != IO_REPARSE_TAG_SYMLINK) {
        total += static_cast<int64_t>(uint64_t{entry.nFileSizeHigh} << 32 | entry.nFileSizeLow);
      }
    });
  }
  return total;
}

std::vector<std::string> DriveFolders(const std::string& drive_root) {
  std::vector<std::string> names;
  const std::optional<std::wstring> root = FolderPath(drive_root);
  if (!root) return names;
  // Hidden and system entries (the recycle bin, the volume information)
  // get no bar; 8 is the volume label's attribute of old.
  constexpr DWORD kLeftOut = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | 0x8;
  List(*root, [&](const WIN32_FIND_DATAW& entry) {
    const DWORD attributes = entry.dwFileAttributes;
    if ((attributes & kLeftOut) != 0 || !IsFolder(attributes) || IsLink(attributes)) return;
    names.push_back(Utf8FromWide(entry.cFileName));
  });
  return names;
}

std::string DriveFolderPath(const std::string& drive_root, const std::string& name) {
  if (drive_root.empty() || IsSeparator(static_cast<wchar_t>(drive_root.back()))) {
    return drive_root + name;
  }
  return drive_root + "\\" + name;
}

std::string DriveFolderLabel(const std::string& drive_root, const std::string& name) {
  // The drive letter in lower case: c:\Windows.
  std::string label = DriveFolderPath(drive_root, name);
  if (label.size() >= 2 && label[1] == ':' && label[0] >= 'A' && label[0] <= 'Z') {
    label[0] = static_cast<char>(label[0] - 'A' + 'a');
  }
  return label;
}

}  // namespace quarrin
