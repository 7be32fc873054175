// Attribute values as a setter request brings them: the value taken from
// the request line, written to the service key and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "core/attributes.h"
#include "core/registry.h"
#include "http/dispatcher.h"
#include "platform/registry/registry_store.h"

namespace {

// A store with the service key, in a folder of its own that goes when the
// fuzzer ends.
class ScratchStore {
 public:
  ScratchStore() {
    const char* base = std::getenv("TMPDIR");
    folder_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
              "/attributes_fuzzer.XXXXXX";
    if (mkdtemp(folder_.data()) == nullptr) std::abort();
    store_ = quarrin::OpenSqliteRegistryStore(folder_ + "/registry.db");
    quarrin::Registry registry(*store_, quarrin::kAccessReadWrite);
    registry.SetRootKey(quarrin::RootKey::kLocalMachine);
    registry.OpenKey(quarrin::ServiceKeyPath(), true);
  }
  ~ScratchStore() {
    store_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  quarrin::RegistryStore& store() { return *store_; }

 private:
  std::string folder_;
  std::unique_ptr<quarrin::RegistryStore> store_;
};

quarrin::RegistryStore& Store() {
  static ScratchStore scratch;
  return scratch.store();
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
