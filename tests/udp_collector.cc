#include "tests/udp_collector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quarrin::testing {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("UDP collector: ") + what + ": " + std::strerror(errno));
}

}  // namespace

UdpCollector::UdpCollector() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  socket_ = fd;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    Fail("bind");
  }
  port_ = ntohs(address.sin_port);
}

UdpCollector::~UdpCollector() { close(static_cast<int>(socket_)); }

std::optional<std::string> UdpCollector::Receive(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{static_cast<int>(socket_), POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) Fail("poll");
    if (ready == 0) return std::nullopt;
    std::string buffer(65536, '\0');
    ssize_t got = recv(static_cast<int>(socket_), buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("recv");
    buffer.resize(static_cast<size_t>(got));
    return buffer;
  }
}

}  // namespace quarrin::testing
