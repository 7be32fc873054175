// Reachability of a host by ICMP echo, and the IPv4 name lookup it uses.
#ifndef QUARRIN_REPORT_PING_HOST_H_
#define QUARRIN_REPORT_PING_HOST_H_

#include <cstdint>
#include <string>

#include "platform/net/icmp_echo.h"

namespace quarrin {

inline constexpr int kMinEchoSize = 18;
inline constexpr int kMaxEchoSize = 32767;

// The echo's data: "Quintar" repeated and cut to `size` bytes, at least
// kMinEchoSize. REQUIRES: size <= kMaxEchoSize.
std::string EchoPayload(int size);

// The first IPv4 address of `host` (a name or a dotted address) in network
// byte order; 0 (0.0.0.0) when it cannot be resolved. Safe for concurrent use.
uint32_t ResolveHostAddress(const std::string& host);

// True iff `host` answered one echo of EchoPayload(size), sent with `echo`,
// within timeout_ms. False without sending for an empty host or one that
// does not resolve. Throws std::invalid_argument for a negative timeout or a
// size above kMaxEchoSize. Safe for concurrent use when `echo` is.
bool PingHost(const std::string& host, int timeout_ms, int size,
              IcmpEcho& echo = SystemIcmpEcho());

}  // namespace quarrin

#endif  // QUARRIN_REPORT_PING_HOST_H_
