#include "platform/net/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_io.h"

namespace quarrin {

TcpSocket OpenTcpListener(const std::optional<IpAddress>& address, uint16_t port, int backlog,
                          uint16_t* bound_port, std::string* error) {
  const std::string port_text = "port " + std::to_string(port);
  auto fail = [&](const std::string& what, int fd) {
    std::string reason = ErrnoMessage(what, errno);
    if (fd >= 0) close(fd);
    if (error) *error = reason;
    return kNoTcpSocket;
  };
  sockaddr_storage socket_address;
  socklen_t size = SocketAddressOf(address, port, &socket_address);
  bool dual_stack = !address;
  int fd = socket(socket_address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 && dual_stack && errno == EAFNOSUPPORT) {
    // No IPv6 on this system: every IPv4 address.
    size = SocketAddressOf(ParseIpAddress("0.0.0.0"), port, &socket_address);
    dual_stack = false;
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  }
  if (fd < 0) return fail("socket for " + port_text, -1);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (socket_address.ss_family == AF_INET6) {
    int v6_only = dual_stack ? 0 : 1;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6_only, sizeof v6_only);
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&socket_address), size) != 0) {
    return fail("bind to " + port_text, fd);
  }
  if (listen(fd, backlog) != 0) return fail("listen on " + port_text, fd);
  socklen_t length = sizeof socket_address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&socket_address), &length) != 0) {
    return fail("getsockname of " + port_text, fd);
  }
  *bound_port = PortOf(socket_address);
  return fd;
}

AcceptResult AcceptTcp(TcpSocket listener, TcpSocket* connection, TcpPeer* peer) {
  socklen_t length = sizeof peer->storage;
  const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(peer->storage),
                         &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EINTR || errno == ECONNABORTED) return AcceptResult::kRetry;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      return AcceptResult::kOutOfResources;
    }
    return AcceptResult::kNone;
  }
  peer->length = length;
  peer->ip = IpAddressOf(peer->address()).value_or(IpAddress{});
  *connection = fd;
  return AcceptResult::kAccepted;
}

std::ptrdiff_t PeekTcp(TcpSocket connection, char* buffer, size_t size) {
  const ssize_t n = recv(static_cast<int>(connection), buffer, size, MSG_PEEK | MSG_DONTWAIT);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kTcpWouldBlock;
  return kTcpFailed;
}

bool SetTcpReadableThreshold(TcpSocket connection, int bytes) {
  return setsockopt(static_cast<int>(connection), SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes) ==
         0;
}

int WaitForTcp(std::vector<TcpWaitEntry>& entries, int timeout_ms) {
  std::vector<pollfd> polled;
  polled.reserve(entries.size());
  for (const TcpWaitEntry& e : entries) {
    polled.push_back({static_cast<int>(e.socket), POLLIN | POLLRDHUP, 0});
  }
  const int ready = poll(polled.data(), polled.size(), timeout_ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = (polled[i].revents & POLLIN) != 0;
    entries[i].hung_up = (polled[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
  }
  return ready;
}

void SendFinalTcp(TcpSocket connection, std::string_view bytes) {
  const int fd = static_cast<int>(connection);
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  shutdown(fd, SHUT_WR);
  // Bounded: what has arrived already, no more than a few buffers' worth.
  char scratch[16384];
  for (int i = 0; i < 8; ++i) {
    if (recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) break;
  }
}

TcpSocket ConnectTcp(const IpAddress& from, const IpAddress& to, uint16_t port) {
  sockaddr_storage local;
  sockaddr_storage remote;
  const socklen_t local_size = SocketAddressOf(from, 0, &local);
  const socklen_t remote_size = SocketAddressOf(to, port, &remote);
  const int fd = socket(remote.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoTcpSocket;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), local_size) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&remote), remote_size) != 0) {
    close(fd);
    return kNoTcpSocket;
  }
  return fd;
}

bool SendTcp(TcpSocket connection, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(static_cast<int>(connection), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::ptrdiff_t ReceiveTcp(TcpSocket connection, char* buffer, size_t size, int timeout_ms) {
  pollfd p{static_cast<int>(connection), POLLIN, 0};
  const int ready = poll(&p, 1, timeout_ms);
  if (ready == 0) return kTcpWouldBlock;
  if (ready < 0) return kTcpFailed;
  const ssize_t n = recv(static_cast<int>(connection), buffer, size, 0);
  return n < 0 ? kTcpFailed : n;
}

void EndSendingTcp(TcpSocket connection) { shutdown(static_cast<int>(connection), SHUT_WR); }

void ShutdownTcp(TcpSocket connection) { shutdown(static_cast<int>(connection), SHUT_RDWR); }

void CloseTcp(TcpSocket socket) {
  if (socket != kNoTcpSocket) close(static_cast<int>(socket));
}

TcpWakeup::~TcpWakeup() { Close(); }

bool TcpWakeup::Open(std::string* error) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = ErrnoMessage("wake-up pipe", errno);
    return false;
  }
  read_ = ends[0];
  write_ = ends[1];
  return true;
}

void TcpWakeup::Signal() {
  const char wake = 'w';
  (void)!write(static_cast<int>(write_), &wake, 1);
}

void TcpWakeup::Clear() {
  char scratch[64];
  while (read(static_cast<int>(read_), scratch, sizeof scratch) > 0) {
  }
}

void TcpWakeup::Close() {
  CloseTcp(read_);
  CloseTcp(write_);
  read_ = write_ = kNoTcpSocket;
}

}  // namespace quarrin
