// Replacing an executable on Windows: MoveFileExW replaces the file in one
// step and, written through, returns once the move is on disk.
#include "platform/files/file_replace.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

constexpr char kNotUtf8[] = "the path is not valid UTF-8";

std::string LastErrorText() { return SystemErrorText(GetLastError()); }

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

FileKind KindOfFile(const std::string& path, bool follow_links, std::string* why) {
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) {
    if (why != nullptr) *why = kNotUtf8;
    return FileKind::kMissing;
  }
  const DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (why != nullptr) *why = LastErrorText();
    return FileKind::kMissing;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::kOther;
  if (!follow_links && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FileKind::kOther;
  return FileKind::kRegular;
}

std::optional<std::string> KeepPreviousFile(const std::string& path, const std::string& backup) {
  const std::optional<std::wstring> from = WideFromUtf8(path);
  const std::optional<std::wstring> to = WideFromUtf8(backup);
  if (!from || !to) return kNotUtf8;
  DeleteFileW(to->c_str());
  if (CreateHardLinkW(to->c_str(), from->c_str(), nullptr)) return std::nullopt;
  // A file system without hard links (FAT) or a volume that refuses them.
  if (CopyFileW(from->c_str(), to->c_str(), FALSE)) return std::nullopt;
  const std::string why = LastErrorText();
  DeleteFileW(to->c_str());
  return why;
}

std::optional<std::string> TakeExecutablePermissions(const std::string&, const std::string&) {
  return std::nullopt;
}

std::optional<std::string> MarkExecutable(const std::string&) { return std::nullopt; }

std::optional<std::string> RenameOver(const std::string& from, const std::string& to,
                                      bool* in_use) {
  if (in_use != nullptr) *in_use = false;
  const std::optional<std::wstring> wide_from = WideFromUtf8(from);
  const std::optional<std::wstring> wide_to = WideFromUtf8(to);
  if (!wide_from || !wide_to) return kNotUtf8;
  if (!MoveFileExW(wide_from->c_str(), wide_to->c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    // A running image, or a file open without FILE_SHARE_DELETE, cannot be
    // replaced; the access denial is what a mapped image gives.
    if (in_use != nullptr) {
      *in_use = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                error == ERROR_ACCESS_DENIED;
    }
    return SystemErrorText(error);
  }
  return std::nullopt;
}

bool ExecutableForThisMachine(const std::string& path) {
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return false;
  HANDLE file = CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // The DOS header names where the PE headers begin; they lie within the
  // first pages of any image the linker makes.
  char head[4096];
  DWORD got = 0;
  const bool read = ReadFile(file, head, sizeof head, &got, nullptr) != 0;
  CloseHandle(file);
  IMAGE_DOS_HEADER dos;
  if (!read || got < sizeof dos) return false;
  std::memcpy(&dos, head, sizeof dos);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return false;
  const size_t at = static_cast<size_t>(dos.e_lfanew);
  IMAGE_NT_HEADERS headers;
  // The signature and the file header suffice.
  const size_t needed = offsetof(IMAGE_NT_HEADERS, OptionalHeader);
  if (at > got || got - at < needed) return false;
  std::memcpy(&headers, head + at, needed);
  if (headers.Signature != IMAGE_NT_SIGNATURE) return false;
  const WORD flags = headers.FileHeader.Characteristics;
  if ((flags & IMAGE_FILE_EXECUTABLE_IMAGE) == 0 || (flags & IMAGE_FILE_DLL) != 0) return false;
  // The running program's own headers, as loaded.
  const auto* own_base = reinterpret_cast<const char*>(GetModuleHandleW(nullptr));
  IMAGE_DOS_HEADER own_dos;
  std::memcpy(&own_dos, own_base, sizeof own_dos);
  IMAGE_NT_HEADERS own;
  std::memcpy(&own, own_base + own_dos.e_lfanew, needed);
  return headers.FileHeader.Machine == own.FileHeader.Machine;
}

std::optional<std::string> RemoveFile(const std::string& path) {
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return kNotUtf8;
  if (!DeleteFileW(wide->c_str()) && !NotFound(GetLastError())) return LastErrorText();
  return std::nullopt;
}

}  // namespace quarrin
