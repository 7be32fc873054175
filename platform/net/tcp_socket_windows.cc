// TCP sockets on Winsock 2. A socket is a SOCKET, whose INVALID_SOCKET is
// kNoTcpSocket as an intptr_t; the wake-up is a loopback connection, since
// WSAPoll waits on sockets only.
#include "platform/net/tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>

#include "platform/net/loopback_pair_windows.h"
#include "platform/net/socket_error.h"
#include "platform/text/wide_text_windows.h"
#include "platform/net/winsock_start_windows.h"

namespace quarrin {

namespace {

SOCKET AsSocket(TcpSocket s) { return static_cast<SOCKET>(s); }

// Winsock started for the process (once); false when it cannot start.
bool WinsockStarted() {
  try {
    StartWinsock();
    return true;
  } catch (const SocketError&) {
    return false;
  }
}

// "context: " and the system's text for a Winsock error, with the Linux
// wording for the error a taken port gives, which the logs and the
// server's callers know.
std::string SocketMessage(const std::string& context, int error) {
  if (error == WSAEADDRINUSE) return context + ": Address already in use";
  std::string message = SystemErrorText(static_cast<uint32_t>(error));
  while (!message.empty() && message.back() == '.') message.pop_back();
  return context + ": " + message;
}

// A socket that child processes do not inherit, non-blocking.
SOCKET NewSocket(int family) {
  const SOCKET s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return s;
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  return s;
}

}  // namespace

TcpSocket OpenTcpListener(const std::optional<IpAddress>& address, uint16_t port, int backlog,
                          uint16_t* bound_port, std::string* error) {
  const std::string port_text = "port " + std::to_string(port);
  auto fail = [&](const std::string& what, SOCKET s) {
    std::string reason = SocketMessage(what, WSAGetLastError());
    if (s != INVALID_SOCKET) closesocket(s);
    if (error) *error = reason;
    return kNoTcpSocket;
  };
  if (!WinsockStarted()) {
    if (error) *error = "socket for " + port_text + ": Winsock did not start";
    return kNoTcpSocket;
  }
  sockaddr_storage socket_address;
  int size = SocketAddressOf(address, port, &socket_address);
  bool dual_stack = !address;
  SOCKET s = NewSocket(socket_address.ss_family);
  if (s == INVALID_SOCKET && dual_stack && WSAGetLastError() == WSAEAFNOSUPPORT) {
    // No IPv6 on this system: every IPv4 address.
    size = SocketAddressOf(ParseIpAddress("0.0.0.0"), port, &socket_address);
    dual_stack = false;
    s = NewSocket(AF_INET);
  }
  if (s == INVALID_SOCKET) return fail("socket for " + port_text, s);
  // No other program may bind the same port beside this one (Windows would
  // let one with SO_REUSEADDR).
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  if (socket_address.ss_family == AF_INET6) {
    DWORD v6_only = dual_stack ? 0 : 1;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6_only),
               sizeof v6_only);
  }
  if (bind(s, reinterpret_cast<sockaddr*>(&socket_address), size) != 0) {
    return fail("bind to " + port_text, s);
  }
  if (listen(s, backlog) != 0) return fail("listen on " + port_text, s);
  int length = sizeof socket_address;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&socket_address), &length) != 0) {
    return fail("getsockname of " + port_text, s);
  }
  *bound_port = PortOf(socket_address);
  return static_cast<TcpSocket>(s);
}

AcceptResult AcceptTcp(TcpSocket listener, TcpSocket* connection, TcpPeer* peer) {
  int length = sizeof peer->storage;
  const SOCKET s = accept(AsSocket(listener), reinterpret_cast<sockaddr*>(peer->storage), &length);
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    if (error == WSAEINTR || error == WSAECONNRESET || error == WSAECONNABORTED) {
      return AcceptResult::kRetry;
    }
    if (error == WSAEMFILE || error == WSAENOBUFS) return AcceptResult::kOutOfResources;
    return AcceptResult::kNone;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  peer->length = static_cast<uint32_t>(length);
  peer->ip = IpAddressOf(peer->address()).value_or(IpAddress{});
  *connection = static_cast<TcpSocket>(s);
  return AcceptResult::kAccepted;
}

std::ptrdiff_t PeekTcp(TcpSocket connection, char* buffer, size_t size) {
  const int n = recv(AsSocket(connection), buffer, static_cast<int>(size), MSG_PEEK);
  if (n >= 0) return n;
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK || error == WSAEINTR) return kTcpWouldBlock;
  // A peek of a buffer smaller than what waits: the buffer is full.
  if (error == WSAEMSGSIZE) return static_cast<std::ptrdiff_t>(size);
  return kTcpFailed;
}

// Winsock has no receive low-water mark for stream sockets.
bool SetTcpReadableThreshold(TcpSocket /*connection*/, int bytes) { return bytes <= 1; }

int WaitForTcp(std::vector<TcpWaitEntry>& entries, int timeout_ms) {
  // WSAPoll takes no placeholders: the skipped entries are left out.
  std::vector<WSAPOLLFD> polled;
  std::vector<size_t> index;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].readable = entries[i].hung_up = false;
    if (entries[i].socket == kNoTcpSocket) continue;
    polled.push_back({AsSocket(entries[i].socket), POLLRDNORM, 0});
    index.push_back(i);
  }
  if (polled.empty()) {
    // WSAPoll refuses an empty set: a plain wait.
    if (timeout_ms != 0) Sleep(timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    return 0;
  }
  const int ready = WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeout_ms);
  if (ready == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR ? 0 : -1;
  for (size_t k = 0; k < polled.size(); ++k) {
    TcpWaitEntry& e = entries[index[k]];
    e.readable = (polled[k].revents & POLLRDNORM) != 0;
    e.hung_up = (polled[k].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
  return ready;
}

void SendFinalTcp(TcpSocket connection, std::string_view bytes) {
  const SOCKET s = AsSocket(connection);
  // The socket is non-blocking: send takes what fits and returns.
  while (!bytes.empty()) {
    const int n = send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n <= 0) break;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  shutdown(s, SD_SEND);
  // Bounded: what has arrived already, no more than a few buffers' worth.
  char scratch[16384];
  for (int i = 0; i < 8; ++i) {
    if (recv(s, scratch, sizeof scratch, 0) <= 0) break;
  }
}

TcpSocket ConnectTcp(const IpAddress& from, const IpAddress& to, uint16_t port) {
  if (!WinsockStarted()) return kNoTcpSocket;
  sockaddr_storage local;
  sockaddr_storage remote;
  const int local_size = SocketAddressOf(from, 0, &local);
  const int remote_size = SocketAddressOf(to, port, &remote);
  const SOCKET s = WSASocketW(remote.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return kNoTcpSocket;
  if (bind(s, reinterpret_cast<sockaddr*>(&local), local_size) != 0 ||
      connect(s, reinterpret_cast<sockaddr*>(&remote), remote_size) != 0) {
    closesocket(s);
    return kNoTcpSocket;
  }
  return static_cast<TcpSocket>(s);
}

bool SendTcp(TcpSocket connection, std::string_view bytes) {
  while (!bytes.empty()) {
    const int n = send(AsSocket(connection), bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::ptrdiff_t ReceiveTcp(TcpSocket connection, char* buffer, size_t size, int timeout_ms) {
  WSAPOLLFD p{AsSocket(connection), POLLRDNORM, 0};
  const int ready = WSAPoll(&p, 1, timeout_ms);
  if (ready == 0) return kTcpWouldBlock;
  if (ready < 0) return kTcpFailed;
  const int n = recv(AsSocket(connection), buffer, static_cast<int>(size), 0);
  return n < 0 ? kTcpFailed : n;
}

void EndSendingTcp(TcpSocket connection) { shutdown(AsSocket(connection), SD_SEND); }

void ShutdownTcp(TcpSocket connection) { shutdown(AsSocket(connection), SD_BOTH); }

void CloseTcp(TcpSocket socket) {
  if (socket != kNoTcpSocket) closesocket(AsSocket(socket));
}

bool OpenLoopbackPair(TcpSocket* first, TcpSocket* second, std::string* error) {
  *first = *second = kNoTcpSocket;
  // A listener on a port the system picks, connected to and taken at once,
  // then closed.
  uint16_t port = 0;
  std::string reason;
  const TcpSocket listener = OpenTcpListener(ParseIpAddress("127.0.0.1"), 0, 4, &port, &reason);
  if (listener == kNoTcpSocket) {
    if (error) *error = reason;
    return false;
  }
  sockaddr_storage address;
  const int size = SocketAddressOf(ParseIpAddress("127.0.0.1"), port, &address);
  const SOCKET writer = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  bool connected = writer != INVALID_SOCKET &&
                   connect(writer, reinterpret_cast<sockaddr*>(&address), size) == 0;
  sockaddr_storage mine{};
  int mine_size = sizeof mine;
  connected = connected &&
              getsockname(writer, reinterpret_cast<sockaddr*>(&mine), &mine_size) == 0;
  TcpSocket reader = kNoTcpSocket;
  // The handshake is done once connect returns; the listener holds it,
  // perhaps behind a stranger's.
  for (int tries = 0; connected && reader == kNoTcpSocket && tries < 4; ++tries) {
    std::vector<TcpWaitEntry> wait{{listener}};
    TcpPeer peer;
    TcpSocket taken = kNoTcpSocket;
    if (WaitForTcp(wait, 5000) <= 0 ||
        AcceptTcp(listener, &taken, &peer) != AcceptResult::kAccepted) {
      break;
    }
    if (PortOf(*reinterpret_cast<const sockaddr_storage*>(peer.storage)) == PortOf(mine)) {
      reader = taken;
    } else {
      CloseTcp(taken);
    }
  }
  const int failure = WSAGetLastError();
  CloseTcp(listener);
  if (reader == kNoTcpSocket) {
    if (writer != INVALID_SOCKET) closesocket(writer);
    if (error) *error = SocketMessage("loopback connection", failure);
    return false;
  }
  u_long on = 1;
  ioctlsocket(writer, FIONBIO, &on);
  *first = static_cast<TcpSocket>(writer);
  *second = reader;
  return true;
}

TcpWakeup::~TcpWakeup() { Close(); }

bool TcpWakeup::Open(std::string* error) {
  std::string reason;
  if (!OpenLoopbackPair(&write_, &read_, &reason)) {
    if (error) *error = "wake-up connection: " + reason;
    return false;
  }
  return true;
}

void TcpWakeup::Signal() {
  const char wake = 'w';
  send(AsSocket(write_), &wake, 1, 0);
}

void TcpWakeup::Clear() {
  char scratch[64];
  while (recv(AsSocket(read_), scratch, sizeof scratch, 0) > 0) {
  }
}

void TcpWakeup::Close() {
  CloseTcp(read_);
  CloseTcp(write_);
  read_ = write_ = kNoTcpSocket;
}

}  // namespace quarrin
