// HTTPS in front of a plain-text server, on the system's own TLS (Schannel
// on Windows). The server accepts and counts each connection as usual and
// hands it here; the front runs the TLS handshake within a deadline and
// then gives the server a loopback connection that carries the client's
// plain text, which the server serves as it would the client's own. One
// thread serves every connection. Linux has no front: its HTTP library
// speaks TLS itself.
#ifndef QUARRIN_PLATFORM_NET_TLS_FRONT_H_
#define QUARRIN_PLATFORM_NET_TLS_FRONT_H_

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/net/tcp_socket.h"

namespace quarrin {

// Where the server's certificate and its private key come from: one of the
// two.
struct TlsCertificateSource {
  // The SHA-1 thumbprint of a certificate in the machine's personal store
  // (LocalMachine\My): 40 hexadecimal digits, blanks and colons between
  // them allowed, as the certificate dialog shows it.
  std::string thumbprint;
  // A PKCS #12 file (.pfx) with the certificate, its key and perhaps its
  // chain, and the file's password (may be empty).
  std::string pfx_file;
  std::string pfx_password;

  bool empty() const { return thumbprint.empty() && pfx_file.empty(); }
};

class TlsFront {
 public:
  // Told once per connection, on the front's thread: the plain-text end
  // (non-blocking; the caller's to close), or kNoTcpSocket when the
  // handshake failed, did not end by its deadline, or the front stopped
  // first (the client's connection is closed then).
  using Ready = std::function<void(TcpSocket plaintext)>;

  // Loads the certificate and starts the front's thread. Null with the
  // reason in *error when the certificate cannot be found, read or used,
  // and where the system has no front.
  static std::unique_ptr<TlsFront> Open(const TlsCertificateSource& source, std::string* error);
  ~TlsFront();  // Stop
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  // Takes over `connection` (accepted, non-blocking) with the time by
  // which its handshake must have ended. Safe from any thread.
  void Add(TcpSocket connection, std::chrono::steady_clock::time_point handshake_deadline,
           Ready ready);
  // Closes every connection and joins the thread; a connection still in its
  // handshake is told kNoTcpSocket.
  void Stop();

  class Impl;

 private:
  explicit TlsFront(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_TLS_FRONT_H_
