// IPv4 addresses of host names and dotted texts.
#ifndef QUARRIN_PLATFORM_NET_IPV4_LOOKUP_H_
#define QUARRIN_PLATFORM_NET_IPV4_LOOKUP_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/socket_error.h"

namespace quarrin {

// The address that a dotted IPv4 text ("10.0.0.7") writes, in network byte
// order, without any look-up; nullopt for any other text.
std::optional<uint32_t> ParseDottedIPv4(const std::string& text);

// The first IPv4 address of `host` (a name or a dotted address) by the
// system's host-name resolution, in network byte order. The wait is the
// resolver's own, bounded by its time-outs and attempts. Throws SocketError:
// kHostNotFound for a name that has no IPv4 address, kResolverUnreachable
// when the resolver could not be asked, kResolverFailed for its other
// failures, or the system's error number and text. Safe for concurrent use.
uint32_t LookupIPv4Address(const std::string& host);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_IPV4_LOOKUP_H_
