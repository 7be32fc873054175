// The serial number that the machine's firmware reports, read from the DMI
// table the kernel exposes.
#ifndef QUARRIN_INVENTORY_BIOS_SERIAL_H_
#define QUARRIN_INVENTORY_BIOS_SERIAL_H_

#include <stdexcept>
#include <string>

namespace quarrin {

inline constexpr char kBiosSerialPath[] = "/sys/class/dmi/id/product_serial";

// The serial number could not be read: the file exists but is not readable
// (on most machines only root may read it) or reading it failed. The message
// names the file and the system's reason.
class BiosSerialError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Clears *serial, then sets it to the serial number of the computer named
// `computer` ("" and "." are this one), without blanks and control
// characters at either end. It stays empty when the firmware reports a
// blank serial or none at all (`path` missing, as on machines without a DMI
// table). `path` is where the number is read from; tests name a file of
// their own. Throws BiosSerialError when the file cannot be read, and
// std::invalid_argument for another computer (only this one can be read).
// Keeps no state; safe for concurrent use.
void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const std::string& path = kBiosSerialPath);

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_BIOS_SERIAL_H_
