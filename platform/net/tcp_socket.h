// TCP sockets as the HTTP server uses them: a non-blocking listener, the
// connections it accepts, waiting on several at once with a time-out, and a
// wake-up that ends such a wait from another thread. A socket is the
// system's descriptor (or SOCKET), held as an intptr_t; every call here
// returns at once or within the time-out it is given.
#ifndef QUARRIN_PLATFORM_NET_TCP_SOCKET_H_
#define QUARRIN_PLATFORM_NET_TCP_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/ip_address.h"

struct sockaddr;

namespace quarrin {

using TcpSocket = intptr_t;
inline constexpr TcpSocket kNoTcpSocket = -1;

// A peer's socket address as the system gave it (the HTTP library wants it
// so), and the address it holds.
struct TcpPeer {
  alignas(8) unsigned char storage[128]{};  // a sockaddr_storage
  uint32_t length = 0;
  IpAddress ip;

  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(storage); }
};

// Opens a non-blocking listener on `address` and `port` (0: the system
// picks one; *bound_port tells which) with room for `backlog` handshakes.
// No address: every local address, IPv6 and IPv4 on one socket, or IPv4
// alone where the system has no IPv6. On failure kNoTcpSocket, and *error
// says why, for example "bind to port 88: Address already in use".
TcpSocket OpenTcpListener(const std::optional<IpAddress>& address, uint16_t port, int backlog,
                          uint16_t* bound_port, std::string* error);

enum class AcceptResult {
  kAccepted,
  kRetry,           // a connection gone before it was taken: try again at once
  kNone,            // nothing waiting (or a failure that waiting will not mend)
  kOutOfResources,  // out of descriptors or memory: waiting a moment helps
};
// Takes one waiting connection, non-blocking, with its peer's address.
AcceptResult AcceptTcp(TcpSocket listener, TcpSocket* connection, TcpPeer* peer);

// Bytes waiting on a connection, copied without taking them. >= 0: that
// many (0: the peer has closed its side); kTcpWouldBlock: none yet;
// kTcpFailed: the connection has failed.
inline constexpr std::ptrdiff_t kTcpWouldBlock = -1;
inline constexpr std::ptrdiff_t kTcpFailed = -2;
std::ptrdiff_t PeekTcp(TcpSocket connection, char* buffer, size_t size);

// How many bytes must be waiting before a wait calls the connection
// readable (an end of stream always counts). False where the system cannot
// set it: such a connection stays readable while bytes wait.
bool SetTcpReadableThreshold(TcpSocket connection, int bytes);

struct TcpWaitEntry {
  TcpSocket socket = kNoTcpSocket;  // kNoTcpSocket: skipped
  bool readable = false;            // set by WaitForTcp
  bool hung_up = false;             // set: the peer closed, or the connection failed
};
// Waits until one of the sockets is readable or hung up, or `timeout_ms`
// passes (-1: no limit). Returns how many are; -1 when the wait itself
// failed (out of memory, say), which waiting a moment may mend.
int WaitForTcp(std::vector<TcpWaitEntry>& entries, int timeout_ms);

// Writes `bytes` without waiting (a fresh connection's buffer takes a short
// reply whole), ends the sending side and reads away what the peer has
// already sent, so that closing the connection afterwards does not reset it
// before the peer has read the bytes. The connection stays open.
void SendFinalTcp(TcpSocket connection, std::string_view bytes);

// A client's side, blocking: a connection from the local address `from`
// (on a port the system picks) to `to` and `port`; kNoTcpSocket when it
// cannot be made.
TcpSocket ConnectTcp(const IpAddress& from, const IpAddress& to, uint16_t port);
// Sends all of `bytes`; false when the peer has gone.
bool SendTcp(TcpSocket connection, std::string_view bytes);
// What arrives within `timeout_ms`, taken: >= 0 bytes (0: the peer has
// closed its side), kTcpWouldBlock when nothing came in time, kTcpFailed.
std::ptrdiff_t ReceiveTcp(TcpSocket connection, char* buffer, size_t size, int timeout_ms);
// Tells the peer that nothing more will be sent.
void EndSendingTcp(TcpSocket connection);

// Ends both directions of a connection; a thread reading it sees its end.
void ShutdownTcp(TcpSocket connection);
void CloseTcp(TcpSocket socket);

// Ends a WaitForTcp of another thread: its socket() turns readable once
// Signal has been called, and stays so.
class TcpWakeup {
 public:
  TcpWakeup() = default;
  ~TcpWakeup();  // Close
  TcpWakeup(const TcpWakeup&) = delete;
  TcpWakeup& operator=(const TcpWakeup&) = delete;

  // False with the reason when the system has no channel to spare.
  bool Open(std::string* error);
  void Signal();
  // Takes away what Signal sent: socket() is not readable again until the
  // next Signal.
  void Clear();
  void Close();
  TcpSocket socket() const { return read_; }

 private:
  TcpSocket read_ = kNoTcpSocket;
  TcpSocket write_ = kNoTcpSocket;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_TCP_SOCKET_H_
