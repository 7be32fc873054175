#include "platform/net/ip_address.h"

// The socket address types and text conversions of both systems.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

namespace quarrin {
namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

IpAddress MappedIPv4(const void* four_bytes) {
  IpAddress a;
  std::memcpy(a.bytes.data(), kMappedPrefix, sizeof kMappedPrefix);
  std::memcpy(a.bytes.data() + 12, four_bytes, 4);
  return a;
}

}  // namespace

bool IpAddress::IsIPv4() const {
  return std::memcmp(bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

std::string IpAddress::Text() const {
  char text[INET6_ADDRSTRLEN] = "";
  if (IsIPv4()) {
    inet_ntop(AF_INET, bytes.data() + 12, text, sizeof text);
  } else {
    inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
  }
  return text;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  const std::string s(text);
  in_addr v4;
  if (inet_pton(AF_INET, s.c_str(), &v4) == 1) return MappedIPv4(&v4);
  IpAddress a;
  if (inet_pton(AF_INET6, s.c_str(), a.bytes.data()) == 1) return a;
  return std::nullopt;
}

std::optional<IpAddress> IpAddressOf(const sockaddr* address) {
  if (address == nullptr) return std::nullopt;
  if (address->sa_family == AF_INET) {
    return MappedIPv4(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
  }
  if (address->sa_family == AF_INET6) {
    IpAddress a;
    std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    return a;
  }
  return std::nullopt;
}

int SocketAddressOf(const std::optional<IpAddress>& ip, uint16_t port, sockaddr_storage* address) {
  *address = {};
  if (ip && ip->IsIPv4()) {
    auto* in = reinterpret_cast<sockaddr_in*>(address);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    std::memcpy(&in->sin_addr, ip->bytes.data() + 12, 4);
    return sizeof(sockaddr_in);
  }
  auto* in6 = reinterpret_cast<sockaddr_in6*>(address);
  in6->sin6_family = AF_INET6;
  in6->sin6_port = htons(port);
  if (ip) {
    std::memcpy(&in6->sin6_addr, ip->bytes.data(), 16);
  } else {
    in6->sin6_addr = in6addr_any;
  }
  return sizeof(sockaddr_in6);
}

uint16_t PortOf(const sockaddr_storage& address) {
  return ntohs(address.ss_family == AF_INET6
                   ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                   : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

}  // namespace quarrin
