// The request line as the HTTP server hands it to the dispatcher: the
// command word's classification, the message text and a setter's value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/dispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  quarrin::ClassifyRequest(line);
  const std::string value = quarrin::AttributeValue(line);
  if (value.size() > line.size()) __builtin_trap();
  // The server takes the query from the target, after its first "?".
  const size_t q = line.find('?');
  if (q != std::string_view::npos) {
    const std::string text = quarrin::MessageText(line.substr(q + 1));
    if (text.size() > line.size()) __builtin_trap();
  }
  return 0;
}
