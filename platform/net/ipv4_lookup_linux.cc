#include "platform/net/ipv4_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace quarrin {

namespace {

SocketError ResolverError(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return LookupError(kHostNotFound);
    case EAI_AGAIN:
      return LookupError(kResolverUnreachable);
    case EAI_SYSTEM:
      return SocketError(errno, std::strerror(errno));
    default:
      return LookupError(kResolverFailed, gai_strerror(code));
  }
}

}  // namespace

std::optional<uint32_t> ParseDottedIPv4(const std::string& text) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
  return address.s_addr;
}

uint32_t LookupIPv4Address(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) throw ResolverError(rc);
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      sockaddr_in in{};
      std::memcpy(&in, a->ai_addr, sizeof in);
      return in.sin_addr.s_addr;
    }
  }
  throw LookupError(kHostNotFound);
}

}  // namespace quarrin
