// IPv4 and IPv6 addresses in one form: sixteen bytes, an IPv4 address held
// as the IPv4-mapped IPv6 address ::ffff:a.b.c.d, as a dual-stack listener
// sees IPv4 clients.
#ifndef QUARRIN_PLATFORM_NET_IP_ADDRESS_H_
#define QUARRIN_PLATFORM_NET_IP_ADDRESS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sockaddr;
struct sockaddr_storage;

namespace quarrin {

struct IpAddress {
  std::array<uint8_t, 16> bytes{};

  // True for ::ffff:a.b.c.d.
  bool IsIPv4() const;
  // Dotted decimal for an IPv4 address, the system's IPv6 text otherwise.
  std::string Text() const;

  friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

// The address that text writes (dotted decimal or IPv6 text, no blanks, no
// port, no zone); nullopt for anything else.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// The address of an AF_INET or AF_INET6 socket address; nullopt for other
// families and null.
std::optional<IpAddress> IpAddressOf(const sockaddr* address);

// Writes the socket address of `ip` and `port` (no address: every IPv6
// address) into *address; returns its length.
int SocketAddressOf(const std::optional<IpAddress>& ip, uint16_t port, sockaddr_storage* address);
// The port of an AF_INET or AF_INET6 socket address.
uint16_t PortOf(const sockaddr_storage& address);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_IP_ADDRESS_H_
