// Single UDP datagrams over IPv4, sent without waiting on the receiver.
#ifndef QUARRIN_PLATFORM_NET_UDP_SEND_H_
#define QUARRIN_PLATFORM_NET_UDP_SEND_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/net/socket_error.h"

namespace quarrin {

// The most one UDP datagram over IPv4 carries.
inline constexpr size_t kMaxUdpDatagramBytes = 65507;

// Sends `bytes` as one datagram to UDP port `port` of `address` (network
// byte order) from a new socket on an ephemeral local port, closed before
// returning. Nothing is waited for: UDP tells nothing of delivery. Throws
// SocketError with the system's error number and text. Safe for concurrent
// use: calls share nothing.
void SendUdpDatagram(uint32_t address, uint16_t port, std::string_view bytes);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_UDP_SEND_H_
