#include "platform/system/bios_serial.h"

#include <cerrno>

#include "platform/files/file_io.h"

namespace quarrin {

namespace {

// A serial number is a short DMI string; anything past this is not one.
constexpr size_t kMaxSerialBytes = 4096;

}  // namespace

void SystemBiosSerial::Read(std::string* text) const {
  const int failed = ReadFileCapped(dmi_path_, kMaxSerialBytes, text);
  // No DMI table, or one without a serial: the firmware reports none.
  if (failed == ENOENT) {
    text->clear();
    return;
  }
  if (failed != 0) throw BiosSerialError(ErrnoMessage("BIOS serial number: " + dmi_path_, failed));
}

}  // namespace quarrin
