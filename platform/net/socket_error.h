// A failed socket call or host-name look-up, as the socket layer reports it.
#ifndef QUARRIN_PLATFORM_NET_SOCKET_ERROR_H_
#define QUARRIN_PLATFORM_NET_SOCKET_ERROR_H_

#include <stdexcept>
#include <string>
#include <string_view>

namespace quarrin {

// Look-up failures keep the numbers of the Windows socket layer on every
// system, which is what operators know them by.
inline constexpr int kHostNotFound = 11001;      // "Host not found."
inline constexpr int kResolverUnreachable = 11002;  // "Non-authoritative host not found."
inline constexpr int kResolverFailed = 11003;    // "This is a non-recoverable error."

// what() is the description.
class SocketError : public std::runtime_error {
 public:
  SocketError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int number() const noexcept { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

// A failed look-up: one of the numbers above with its words, and `detail`
// (the resolver's own text) in brackets when there is one.
SocketError LookupError(int number, std::string_view detail = {});

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_SOCKET_ERROR_H_
