// .reg files as an administrator imports them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/registry/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    quarrin::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const quarrin::RegFileError&) {
  }
  return 0;
}
