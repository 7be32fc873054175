// The last ODX transaction, written out again for the /odx reply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/dispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text, error;
  quarrin::PrintOdxDocument(std::string_view(reinterpret_cast<const char*>(data), size), &text,
                            &error);
  return 0;
}
