#include "platform/net/ipv4_lookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <optional>

#include "platform/text/wide_text_windows.h"
#include "platform/net/winsock_start_windows.h"

namespace quarrin {

namespace {

SocketError ResolverError(int code) {
  switch (code) {
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:  // the name is known, but not with an IPv4 address
      return LookupError(kHostNotFound);
    case WSATRY_AGAIN:
      return LookupError(kResolverUnreachable);
    case WSANO_RECOVERY:
      return LookupError(kResolverFailed);
    default:
      return WinsockError(code);
  }
}

}  // namespace

std::optional<uint32_t> ParseDottedIPv4(const std::string& text) {
  IN_ADDR address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
  return address.S_un.S_addr;
}

uint32_t LookupIPv4Address(const std::string& host) {
  StartWinsock();
  const std::optional<std::wstring> name = WideFromUtf8(host);
  if (!name || name->find(L'\0') != std::wstring::npos) throw LookupError(kHostNotFound);
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  ADDRINFOW* found = nullptr;
  const int rc = GetAddrInfoW(name->c_str(), nullptr, &hints, &found);
  if (rc != 0) throw ResolverError(rc);
  std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> owned(found, &FreeAddrInfoW);
  for (const ADDRINFOW* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      return reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.S_un.S_addr;
    }
  }
  throw LookupError(kHostNotFound);
}

}  // namespace quarrin
