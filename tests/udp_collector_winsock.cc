// The UDP collector of the Windows build, on Winsock.
#include <winsock2.h>

#include <algorithm>
#include <stdexcept>

#include "platform/net/winsock_start_windows.h"
#include "tests/udp_collector.h"

namespace quarrin::testing {

namespace {

// Room for several datagrams of the largest size: Windows' default receive
// buffer would drop even one of them.
constexpr int kReceiveBufferBytes = 1 << 20;

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("UDP collector: ") + what + ": " +
                           LastWinsockError().what());
}

SOCKET Handle(std::intptr_t socket) { return static_cast<SOCKET>(socket); }

}  // namespace

UdpCollector::UdpCollector() {
  StartWinsock();
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) Fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  const int buffer = kReceiveBufferBytes;
  if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer),
                 sizeof buffer) != 0 ||
      bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int saved = WSAGetLastError();
    closesocket(s);
    WSASetLastError(saved);
    Fail("bind");
  }
  socket_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(address.sin_port);
}

UdpCollector::~UdpCollector() { closesocket(Handle(socket_)); }

std::optional<std::string> UdpCollector::Receive(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::microseconds>(
               deadline - std::chrono::steady_clock::now())
               .count());
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Handle(socket_), &readable);
    timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) Fail("select");
    if (ready == 0) return std::nullopt;
    std::string datagram(65536, '\0');
    const int got = recv(Handle(socket_), datagram.data(), static_cast<int>(datagram.size()), 0);
    // A datagram to a closed port of an earlier test may come back as a
    // reset; it says nothing about this collector.
    if (got == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET) continue;
    if (got == SOCKET_ERROR) Fail("recv");
    datagram.resize(static_cast<size_t>(got));
    return datagram;
  }
}

}  // namespace quarrin::testing
