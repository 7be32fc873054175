// The serial number that the machine's firmware reports, as the system
// gives it: the DMI table the kernel exposes on Linux, WMI on Windows.
#ifndef QUARRIN_PLATFORM_SYSTEM_BIOS_SERIAL_H_
#define QUARRIN_PLATFORM_SYSTEM_BIOS_SERIAL_H_

#include <stdexcept>
#include <string>
#include <utility>

namespace quarrin {

inline constexpr char kBiosSerialPath[] = "/sys/class/dmi/id/product_serial";

// The serial number could not be read: the file exists but is not readable
// (on Linux only root may read it on most machines), WMI is not available or
// refused, or it did not answer in time. The message names the source and
// the system's reason.
class BiosSerialError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the firmware's serial number is read from; tests hand in a stand-in.
class BiosSerialSource {
 public:
  virtual ~BiosSerialSource() = default;
  // Sets *text to the serial number as the firmware reports it, blanks
  // included; empty when it reports none. Throws BiosSerialError when it
  // cannot be read.
  virtual void Read(std::string* text) const = 0;
};

// The system's source. Linux reads the file at `dmi_path` (tests name a file
// of their own), a missing file being no serial number. Windows asks WMI for
// Win32_BIOS.SerialNumber (an array of texts as "~A~B"), waits at most 5
// seconds for the answer and does not use the path. Keeps no state; safe for
// concurrent use.
class SystemBiosSerial final : public BiosSerialSource {
 public:
  explicit SystemBiosSerial(std::string dmi_path = kBiosSerialPath)
      : dmi_path_(std::move(dmi_path)) {}
  void Read(std::string* text) const override;

 private:
  std::string dmi_path_;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SYSTEM_BIOS_SERIAL_H_
