// The bounded read loop that both systems' ReadFileCapped share.
#ifndef QUARRIN_PLATFORM_FILES_FILE_IO_CAPPED_H_
#define QUARRIN_PLATFORM_FILES_FILE_IO_CAPPED_H_

#include <cstddef>
#include <functional>
#include <string>

namespace quarrin {

// Calls read_some(buffer, size) until it returns 0 (the end) or the data
// holds max_bytes; read_some returns the count of bytes read, or -1 with
// errno set (EINTR: tried again). Sets *data to at most max_bytes bytes and
// *cut (when given) to whether more followed. Returns 0, or the errno of the
// failure (then *data is empty).
int ReadCappedFrom(const std::function<long(char*, size_t)>& read_some, size_t max_bytes,
                   std::string* data, bool* cut);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_FILE_IO_CAPPED_H_
