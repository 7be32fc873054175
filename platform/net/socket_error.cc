#include "platform/net/socket_error.h"

namespace quarrin {

SocketError LookupError(int number, std::string_view detail) {
  std::string words;
  switch (number) {
    case kHostNotFound:
      words = "Host not found.";
      break;
    case kResolverUnreachable:
      words = "Non-authoritative host not found.";
      break;
    default:
      number = kResolverFailed;
      words = "This is a non-recoverable error.";
      break;
  }
  if (!detail.empty()) words += " (" + std::string(detail) + ")";
  return SocketError(number, words);
}

}  // namespace quarrin
