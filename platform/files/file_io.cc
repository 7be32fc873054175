// The parts of the file helpers that do not depend on the system.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files/file_io.h"
#include "platform/files/file_io_capped.h"

namespace quarrin {

std::string ErrnoMessage(std::string_view context, int error) {
  std::string message(context);
  message += ": ";
  message += std::strerror(error);
  return message;
}

int ReadCappedFrom(const std::function<long(char*, size_t)>& read_some, size_t max_bytes,
                   std::string* data, bool* cut) {
  data->clear();
  if (cut != nullptr) *cut = false;
  // One byte past the cap tells whether the file goes on.
  char buffer[16384];
  while (data->size() <= max_bytes) {
    const size_t want = std::min(sizeof buffer, max_bytes + 1 - data->size());
    const long n = read_some(buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      data->clear();
      return error;
    }
    if (n == 0) break;
    data->append(buffer, static_cast<size_t>(n));
  }
  if (data->size() > max_bytes) {
    data->resize(max_bytes);
    if (cut != nullptr) *cut = true;
  }
  return 0;
}

}  // namespace quarrin
