#include "platform/files/file_io.h"

// Paths are UTF-8 inside the agent; the C runtime's wide calls take them.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/files/file_io_capped.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {

bool FileExists(const std::string& path) {
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return false;
  const DWORD attributes = GetFileAttributesW(wide->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int ReadFileCapped(const std::string& path, size_t max_bytes, std::string* data, bool* cut) {
  data->clear();
  if (cut != nullptr) *cut = false;
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return EINVAL;
  struct _stat64 st {};
  if (_wstat64(wide->c_str(), &st) != 0) return errno;
  if ((st.st_mode & _S_IFDIR) != 0) return EISDIR;
  if ((st.st_mode & _S_IFREG) == 0) return EINVAL;
  const int fd = _wopen(wide->c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return errno;
  const int error = ReadCappedFrom(
      [fd](char* buffer, size_t size) {
        return static_cast<long>(_read(fd, buffer, static_cast<unsigned>(size)));
      },
      max_bytes, data, cut);
  _close(fd);
  return error;
}

int WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const unsigned chunk = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
    const int n = _write(fd, p, chunk);
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

FileWrite WriteFileSynced(const std::string& path, std::string_view bytes, unsigned mode) {
  FileWrite result;
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) {
    result.error = EINVAL;
    return result;
  }
  // A link in the file's place is not followed: the write would land
  // elsewhere.
  const DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    result.error = ELOOP;
    return result;
  }
  // Only the owner's write bit has a meaning here: without it the file is
  // read-only.
  const int fd = _wopen(wide->c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                        (mode & 0200) != 0 ? _S_IREAD | _S_IWRITE : _S_IREAD);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  result.created = true;
  result.error = WriteAll(fd, bytes.data(), bytes.size());
  if (result.error == 0 && _commit(fd) != 0) result.error = errno;
  if (_close(fd) != 0 && result.error == 0) result.error = errno;
  // A part is of no use, and may fill a full disk further.
  if (result.error != 0) _wunlink(wide->c_str());
  return result;
}

int SyncToDisk(const std::string& path) {
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return EINVAL;
  // A folder is opened with backup semantics; its entries are flushed with
  // the volume's journal, so a failure to flush one costs nothing.
  const HANDLE handle = CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
  }
  const bool folder = (GetFileAttributesW(wide->c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool flushed = FlushFileBuffers(handle) != 0;
  CloseHandle(handle);
  return flushed || folder ? 0 : EIO;
}

}  // namespace quarrin
