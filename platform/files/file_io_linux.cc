#include "platform/files/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_io_capped.h"

namespace quarrin {

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int ReadFileCapped(const std::string& path, size_t max_bytes, std::string* data, bool* cut) {
  data->clear();
  if (cut != nullptr) *cut = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st {};
  int error = fstat(fd, &st) != 0 ? errno : 0;
  if (error == 0 && !S_ISREG(st.st_mode)) error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (error != 0) {
    close(fd);
    return error;
  }
  error = ReadCappedFrom(
      [fd](char* buffer, size_t size) { return static_cast<long>(read(fd, buffer, size)); },
      max_bytes, data, cut);
  close(fd);
  return error;
}

int WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

FileWrite WriteFileSynced(const std::string& path, std::string_view bytes, unsigned mode) {
  FileWrite result;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                      static_cast<mode_t>(mode));
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  result.created = true;
  result.error = WriteAll(fd, bytes.data(), bytes.size());
  if (result.error == 0 && fsync(fd) != 0) result.error = errno;
  if (close(fd) != 0 && result.error == 0) result.error = errno;
  // A part is of no use, and may fill a full disk further.
  if (result.error != 0) unlink(path.c_str());
  return result;
}

int SyncToDisk(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno;
  const int error = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  return error;
}

}  // namespace quarrin
