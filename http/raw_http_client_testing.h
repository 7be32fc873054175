// A raw HTTP/1.x client over loopback for tests: sends exactly the bytes it
// is given and reads the reply until the server closes the connection, so a
// test controls the request line byte for byte and sees every header.
#ifndef QUARRIN_HTTP_RAW_HTTP_CLIENT_TESTING_H_
#define QUARRIN_HTTP_RAW_HTTP_CLIENT_TESTING_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ascii.h"

namespace quarrin::testing {

// A connected socket, closed on destruction.
class RawConnection {
 public:
  // Connects to 127.0.0.1:port from the loopback address `from` (any of
  // 127.0.0.0/8 serves, so that a test can be several clients);
  // valid() tells whether it worked.
  explicit RawConnection(uint16_t port, const char* from = "127.0.0.1") {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (fd_ >= 0 && (inet_pton(AF_INET, from, &local.sin_addr) != 1 ||
                     bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)) {
      close(fd_);
      fd_ = -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawConnection() {
    if (fd_ >= 0) close(fd_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // False when the peer has gone away.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  // Tells the server that nothing more will be sent.
  void EndSending() { shutdown(fd_, SHUT_WR); }

  // Everything the server sends until it closes the connection or nothing
  // arrives for `timeout`. *closed tells which.
  std::string ReadToEnd(std::chrono::milliseconds timeout, bool* closed = nullptr) {
    std::string out;
    char buffer[16384];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      int ready = poll(&p, 1, static_cast<int>(timeout.count()));
      if (ready <= 0) {
        if (closed) *closed = false;
        return out;
      }
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        if (closed) *closed = true;
        return out;
      }
      out.append(buffer, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
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
