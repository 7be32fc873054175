// The serial number that the machine's firmware reports, cleaned of the
// blanks around it.
#ifndef QUARRIN_INVENTORY_BIOS_SERIAL_H_
#define QUARRIN_INVENTORY_BIOS_SERIAL_H_

#include <string>

#include "platform/system/bios_serial.h"

namespace quarrin {

// Clears *serial, then sets it to the serial number of the computer named
// `computer` ("" and "." are this one) that `source` reads, without blanks
// and control characters at either end. It stays empty when the firmware
// reports a blank serial or none at all. Throws BiosSerialError when the
// source cannot read it (*serial stays empty), and std::invalid_argument
// for another computer (only this one can be read). Keeps no state; safe
// for concurrent use.
void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const BiosSerialSource& source);

// The same from the system's source; `path` is where Linux reads the number
// (tests name a file of their own).
void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const std::string& path = kBiosSerialPath);

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_BIOS_SERIAL_H_
