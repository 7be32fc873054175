#include "http/raw_reply.h"

#include <sys/socket.h>

namespace quarrin {

std::string PlainReply(unsigned status, std::string_view reason, std::string_view text,
                       std::string_view extra_headers) {
  const std::string body = std::string(text) + "\r\n";
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  reply += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "Connection: close\r\n";
  reply += extra_headers;
  reply += "\r\n";
  reply += body;
  return reply;
}

void WriteFinalReply(int fd, std::string_view reply) {
  while (!reply.empty()) {
    const ssize_t n = send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    reply.remove_prefix(static_cast<size_t>(n));
  }
  shutdown(fd, SHUT_WR);
  // Bounded: what has arrived already, no more than a few buffers' worth.
  char scratch[16384];
  for (int i = 0; i < 8; ++i) {
    if (recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) <= 0) break;
  }
}

}  // namespace quarrin
