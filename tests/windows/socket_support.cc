// The test support of the Windows build that needs Winsock: free and
// refusing ports.
#include <winsock2.h>

#include <stdexcept>
#include <string>

#include "platform/net/winsock_start_windows.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"

namespace quarrin::testing {

namespace {

// A TCP socket bound to `ip` (network order) and a port the system picks,
// not listening; throws with `what` when it cannot.
SOCKET BindAnyPort(u_long ip, const char* what, uint16_t* port) {
  StartWinsock();
  const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ip;
  int length = sizeof address;
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string error = LastWinsockError().what();
    if (s != INVALID_SOCKET) closesocket(s);
    throw std::runtime_error(std::string(what) + ": " + error);
  }
  *port = ntohs(address.sin_port);
  return s;
}

}  // namespace

uint16_t FreePort() {
  uint16_t port = 0;
  closesocket(BindAnyPort(htonl(INADDR_ANY), "no free port", &port));
  return port;
}

RefusingPort::RefusingPort() {
  fd_ = static_cast<std::intptr_t>(BindAnyPort(htonl(INADDR_LOOPBACK), "refusing port", &port_));
}

RefusingPort::~RefusingPort() { closesocket(static_cast<SOCKET>(fd_)); }

}  // namespace quarrin::testing
