#include "inventory/bios_serial.h"

#include <algorithm>
#include <cerrno>

#include "platform/file_io.h"

namespace quarrin {

namespace {

// A serial number is a short DMI string; anything past this is not one.
constexpr size_t kMaxSerialBytes = 4096;

[[noreturn]] void Fail(const std::string& path, int error) {
  throw BiosSerialError(ErrnoMessage("BIOS serial number: " + path, error));
}

}  // namespace

void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const std::string& path) {
  serial->clear();
  if (!computer.empty() && computer != ".") {
    throw std::invalid_argument("BIOS serial number of '" + computer +
                                "': only this computer's can be read");
  }
  std::string text;
  const int failed = ReadFileCapped(path, kMaxSerialBytes, &text);
  // No DMI table, or one without a serial: the firmware reports none.
  if (failed == ENOENT) return;
  if (failed != 0) Fail(path, failed);
  size_t begin = 0;
  size_t end = std::min(text.size(), kMaxSerialBytes);
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  serial->assign(text, begin, end - begin);
}

}  // namespace quarrin
