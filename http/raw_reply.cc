#include "http/raw_reply.h"

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

}  // namespace quarrin
