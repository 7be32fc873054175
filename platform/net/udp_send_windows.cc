#include "platform/net/udp_send.h"

#include <winsock2.h>

#include <climits>

#include "platform/net/winsock_start_windows.h"

namespace quarrin {

namespace {

class Socket {
 public:
  // Not inherited by the programs that the agent starts.
  Socket()
      : socket_(WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                           WSA_FLAG_NO_HANDLE_INHERIT)) {
    if (socket_ == INVALID_SOCKET) throw LastWinsockError();
  }
  ~Socket() { closesocket(socket_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

}  // namespace

void SendUdpDatagram(uint32_t address, uint16_t port, std::string_view bytes) {
  StartWinsock();
  if (bytes.size() > INT_MAX) throw WinsockError(WSAEMSGSIZE);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.S_un.S_addr = address;
  Socket socket;
  if (sendto(socket.get(), bytes.data(), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
    throw LastWinsockError();
  }
}

}  // namespace quarrin
