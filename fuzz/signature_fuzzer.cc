// A .minisig file as the download site serves it beside an update, checked
// against a fixed key and file: parsing and verifying must fail cleanly on
// anything but a good signature.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/update_signature.h"

namespace {

// The key that signed the seed corpus's good.minisig over "hello\n".
constexpr char kKey[] = "RWT+LsZcRgjipFRkCbuLXCLkwl1cJlub5KpPAgQH7VfjjWeekRh5vnhD";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const quarrin::UpdatePublicKey key = quarrin::ParseUpdatePublicKey(kKey);
  try {
    quarrin::ParseUpdatePublicKey(text);
  } catch (const quarrin::SignatureError&) {
  }
  try {
    quarrin::VerifySignature(key, text, "hello\n");
  } catch (const quarrin::SignatureError&) {
  }
  return 0;
}
