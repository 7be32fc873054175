#include "inventory/bios_serial.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quarrin {

namespace {

// A serial number is a short DMI string; anything past this is not one.
constexpr size_t kMaxSerialBytes = 4096;

[[noreturn]] void Fail(const std::string& path, int error) {
  throw BiosSerialError("BIOS serial number: " + path + ": " + std::strerror(error));
}

}  // namespace

void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const std::string& path) {
  serial->clear();
  if (!computer.empty() && computer != ".") {
    throw std::invalid_argument("BIOS serial number of '" + computer +
                                "': only this computer's can be read");
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // No DMI table, or one without a serial: the firmware reports none.
    if (errno == ENOENT) return;
    Fail(path, errno);
  }
  std::string text;
  char buffer[512];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      close(fd);
      Fail(path, error);
    }
    if (n == 0 || text.size() >= kMaxSerialBytes) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  size_t begin = 0;
  size_t end = std::min(text.size(), kMaxSerialBytes);
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  serial->assign(text, begin, end - begin);
}

}  // namespace quarrin
