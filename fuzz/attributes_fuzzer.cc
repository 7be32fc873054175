// Attribute values as a setter request brings them: the value taken from
// the request line, written to the service key and read back.
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/attributes.h"
#include "core/registry.h"
#include "http/dispatcher.h"
#include "platform/registry_store.h"

namespace {

// The store lives in a folder of its own, removed when the fuzzer ends.
std::string StoreFolder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/attributes_fuzzer.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(StoreFolder()); });
    return pattern;
  }();
  return folder;
}

quarrin::RegistryStore& Store() {
  static const std::unique_ptr<quarrin::RegistryStore> store = [] {
    std::unique_ptr<quarrin::RegistryStore> s =
        quarrin::OpenSqliteRegistryStore(StoreFolder() + "/registry.db");
    quarrin::Registry registry(*s, quarrin::kAccessReadWrite);
    registry.SetRootKey(quarrin::RootKey::kLocalMachine);
    registry.OpenKey(quarrin::ServiceKeyPath(), true);
    return s;
  }();
  return *store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string value = quarrin::AttributeValue(line);

  quarrin::tRegAttributes written;
  switch (data[0] % 4) {
    case 0: written.SerialNo = value; break;
    case 1: written.InstallDate = value; break;
    case 2: written.AquisitionDate = value; break;
    default: written.Comment = value; break;
  }
  quarrin::WriteAttributes(Store(), "1.0.0.0", written);
  quarrin::tRegAttributes read;
  quarrin::ReadAttributes(Store(), "http://example.invalid", &read);

  // A plain ASCII value comes back as it was set, up to its first zero
  // byte, where a registry text ends.
  bool ascii = true;
  for (char c : value) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  const std::string& back = data[0] % 4 == 0   ? read.SerialNo
                            : data[0] % 4 == 1 ? read.InstallDate
                            : data[0] % 4 == 2 ? read.AquisitionDate
                                               : read.Comment;
  if (ascii && !value.empty() && back != value.substr(0, value.find('\0'))) __builtin_trap();
  return 0;
}
