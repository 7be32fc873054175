#include "inventory/bios_serial.h"

#include <stdexcept>

namespace quarrin {

void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const BiosSerialSource& source) {
  serial->clear();
  if (!computer.empty() && computer != ".") {
    throw std::invalid_argument("BIOS serial number of '" + computer +
                                "': only this computer's can be read");
  }
  std::string text;
  source.Read(&text);
  size_t begin = 0;
  size_t end = text.size();
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  serial->assign(text, begin, end - begin);
}

void GetBIOSSerialNumber(const std::string& computer, std::string* serial,
                         const std::string& path) {
  GetBIOSSerialNumber(computer, serial, SystemBiosSerial(path));
}

}  // namespace quarrin
