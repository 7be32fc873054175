// Reachability of a host by ICMP echo, and the IPv4 name lookup it uses.
#ifndef QUARRIN_REPORT_PING_HOST_H_
#define QUARRIN_REPORT_PING_HOST_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarrin {

inline constexpr int kMinEchoSize = 18;
inline constexpr int kMaxEchoSize = 32767;

// The echo's data: "Quintar" repeated and cut to `size` bytes, at least
// kMinEchoSize. REQUIRES: size <= kMaxEchoSize.
std::string EchoPayload(int size);

// The first IPv4 address of `host` (a name or a dotted address) in network
// byte order; 0 (0.0.0.0) when it cannot be resolved. Safe for concurrent use.
uint32_t ResolveHostAddress(const std::string& host);

// Sends one ICMP echo request carrying `payload` to `address` (network byte
// order) and waits up to `timeout` for its reply. True iff the reply came;
// *reply_data (when given) then holds the data it carried. Uses an ICMP
// datagram socket, or a raw socket where the system does not allow those to
// this process's group (net.ipv4.ping_group_range); false when neither can be
// opened. Safe for concurrent use: replies are told apart by their
// identifier and sequence number.
bool SendIcmpEcho(uint32_t address, std::string_view payload, std::chrono::milliseconds timeout,
                  std::string* reply_data = nullptr);

// True iff `host` answered an echo of EchoPayload(size) within timeout_ms.
// False without sending for an empty host or one that does not resolve.
// Throws std::invalid_argument for a negative timeout or a size above
// kMaxEchoSize. Safe for concurrent use.
bool PingHost(const std::string& host, int timeout_ms, int size);

}  // namespace quarrin

#endif  // QUARRIN_REPORT_PING_HOST_H_
