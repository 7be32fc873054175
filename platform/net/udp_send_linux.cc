#include "platform/net/udp_send.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarrin {

namespace {

SocketError LastError() { return SocketError(errno, std::strerror(errno)); }

class Socket {
 public:
  Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) throw LastError();
  }
  ~Socket() { close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

void SendUdpDatagram(uint32_t address, uint16_t port, std::string_view bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  Socket socket;
  if (sendto(socket.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    throw LastError();
  }
}

}  // namespace quarrin
