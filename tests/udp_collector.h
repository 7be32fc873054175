// A UDP socket on 127.0.0.1 that collects datagrams for tests: the stand-in
// for a syslog collector.
#ifndef QUARRIN_TESTS_UDP_COLLECTOR_H_
#define QUARRIN_TESTS_UDP_COLLECTOR_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quarrin::testing {

class UdpCollector {
 public:
  // Binds 127.0.0.1 on a port the system picks; throws std::runtime_error
  // when it cannot.
  UdpCollector();
  ~UdpCollector();
  UdpCollector(const UdpCollector&) = delete;
  UdpCollector& operator=(const UdpCollector&) = delete;

  uint16_t port() const { return port_; }

  // The bytes of the next datagram, or nullopt when none arrives within
  // timeout.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout);

 private:
  std::intptr_t socket_ = -1;  // a file descriptor, or a Windows SOCKET
  uint16_t port_ = 0;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_UDP_COLLECTOR_H_
