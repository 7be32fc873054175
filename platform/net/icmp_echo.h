// ICMP echo over IPv4: whether a host answers.
#ifndef QUARRIN_PLATFORM_NET_ICMP_ECHO_H_
#define QUARRIN_PLATFORM_NET_ICMP_ECHO_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarrin {

class IcmpEcho {
 public:
  virtual ~IcmpEcho() = default;

  // Sends one echo request carrying `payload` to `address` (network byte
  // order) and waits up to `timeout` for the answer. True iff the host
  // answered; *reply_data (when not null) then holds the data the reply
  // carried. False when the system offers no way to send an echo. Safe for
  // concurrent use by multiple threads.
  virtual bool Echo(uint32_t address, std::string_view payload, std::chrono::milliseconds timeout,
                    std::string* reply_data) = 0;
};

// The system's echo. On Linux an ICMP datagram socket, or a raw socket where
// the system does not allow those to this process's group
// (net.ipv4.ping_group_range); only an echo reply answers. On Windows
// IcmpSendEcho, where a reply of any status answers.
IcmpEcho& SystemIcmpEcho();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_ICMP_ECHO_H_
