// Reading a .reg file from disk with bounded memory: an administrator may
// name a device, a pipe or a huge file by mistake.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/files/file_io.h"
#include "platform/registry/reg_file.h"

namespace quarrin {
namespace {

std::string KindOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "not a plain file";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISCHR(st.st_mode)) return "a character device";
  if (S_ISBLK(st.st_mode)) return "a block device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "not a plain file";
}

// Reads up to max_bytes; *cut tells whether more followed.
std::string ReadUpTo(const std::string& path, size_t max_bytes, bool* cut) {
  std::string data;
  const int error = ReadFileCapped(path, max_bytes, &data, cut);
  if (error == EISDIR) throw std::runtime_error("not a regular file (a folder)");
  if (error == EINVAL) throw std::runtime_error("not a regular file (" + KindOf(path) + ")");
  if (error != 0) throw std::runtime_error(ErrnoMessage("cannot read", error));
  return data;
}

std::string SizeText(size_t bytes) {
  return bytes % (size_t{1} << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                        : std::to_string(bytes) + " bytes";
}

}  // namespace

std::vector<RegChange> ReadRegFile(const std::string& path, size_t max_bytes) {
  // The header first, so that a large file of something else is refused
  // after a few kilobytes.
  bool cut = false;
  const std::string head = ReadUpTo(path, kRegHeaderProbeBytes, &cut);
  if (!head.empty()) CheckRegFileHeader(head);
  if (!cut) return ParseRegFile(head);
  const std::string too_large = "larger than " + SizeText(max_bytes);
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) > max_bytes) {
    throw std::runtime_error(too_large);  // refused before it is read
  }
  // The size is checked while reading too: the file may grow meanwhile.
  const std::string text = ReadUpTo(path, max_bytes, &cut);
  if (cut) throw std::runtime_error(too_large);
  return ParseRegFile(text);
}

}  // namespace quarrin
