// A raw HTTP/1.x client over loopback for tests: sends exactly the bytes it
// is given and reads the reply until the server closes the connection, so a
// test controls the request line byte for byte and sees every header.
#ifndef QUARRIN_HTTP_RAW_HTTP_CLIENT_TESTING_H_
#define QUARRIN_HTTP_RAW_HTTP_CLIENT_TESTING_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text/ascii.h"
#include "platform/net/ip_address.h"
#include "platform/net/tcp_socket.h"

namespace quarrin::testing {

// A connected socket, closed on destruction.
class RawConnection {
 public:
  // Connects to 127.0.0.1:port from the loopback address `from` (any of
  // 127.0.0.0/8 serves, so that a test can be several clients);
  // valid() tells whether it worked.
  explicit RawConnection(uint16_t port, const char* from = "127.0.0.1") {
    const std::optional<IpAddress> local = ParseIpAddress(from);
    if (local) socket_ = ConnectTcp(*local, *ParseIpAddress("127.0.0.1"), port);
  }
  ~RawConnection() { CloseTcp(socket_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool valid() const { return socket_ != kNoTcpSocket; }
  TcpSocket socket() const { return socket_; }

  // False when the peer has gone away.
  bool Send(std::string_view bytes) { return SendTcp(socket_, bytes); }

  // Tells the server that nothing more will be sent.
  void EndSending() { EndSendingTcp(socket_); }

  // Everything the server sends until it closes the connection or nothing
  // arrives for `timeout`. *closed tells which.
  std::string ReadToEnd(std::chrono::milliseconds timeout, bool* closed = nullptr) {
    std::string out;
    char buffer[16384];
    for (;;) {
      const std::ptrdiff_t n =
          ReceiveTcp(socket_, buffer, sizeof buffer, static_cast<int>(timeout.count()));
      if (n == kTcpWouldBlock) {
        if (closed) *closed = false;
        return out;
      }
      if (n <= 0) {
        if (closed) *closed = true;
        return out;
      }
      out.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  TcpSocket socket_ = kNoTcpSocket;
};

struct RawResponse {
  int status = 0;  // 0 when nothing parseable came back
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool closed = false;  // the server closed the connection after it

  // The first header of that name, ASCII case ignored; empty when absent.
  std::string Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
      if (EqualsIgnoringAsciiCase(key, name)) return value;
    }
    return "";
  }
};

// Splits what a server sent into status, headers and body.
inline RawResponse ParseRawResponse(const std::string& raw) {
  RawResponse r;
  size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos || raw.compare(0, 5, "HTTP/") != 0) return r;
  size_t blank = raw.find(' ');
  if (blank != std::string::npos && blank + 4 <= end) r.status = std::stoi(raw.substr(blank + 1, 3));
  size_t line = raw.find("\r\n");
  while (line < end) {
    size_t next = raw.find("\r\n", line + 2);
    std::string header = raw.substr(line + 2, next - line - 2);
    size_t colon = header.find(':');
    if (colon != std::string::npos) {
      size_t value = header.find_first_not_of(' ', colon + 1);
      r.headers.emplace_back(header.substr(0, colon),
                             value == std::string::npos ? "" : header.substr(value));
    }
    line = next;
  }
  r.body = raw.substr(end + 4);
  return r;
}

// The reply to what was sent on `connection`, read until the server closes.
inline RawResponse ReadResponse(RawConnection& connection, std::chrono::milliseconds timeout) {
  bool closed = false;
  RawResponse r = ParseRawResponse(connection.ReadToEnd(timeout, &closed));
  r.closed = closed;
  return r;
}

// One request on a fresh connection, the reply read until the server closes.
inline RawResponse RawExchange(uint16_t port, std::string_view request,
                               std::chrono::milliseconds timeout = std::chrono::seconds(30),
                               const char* from = "127.0.0.1") {
  RawConnection connection(port, from);
  if (!connection.valid()) return {};
  connection.Send(request);
  return ReadResponse(connection, timeout);
}

// "GET /x HTTP/1.1" with a Host header and an empty line after it.
inline std::string SimpleRequest(std::string_view request_line) {
  return std::string(request_line) + "\r\nHost: 127.0.0.1\r\n\r\n";
}

}  // namespace quarrin::testing

#endif  // QUARRIN_HTTP_RAW_HTTP_CLIENT_TESTING_H_
