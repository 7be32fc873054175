#include "platform/ip_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

}  // namespace quarrin
