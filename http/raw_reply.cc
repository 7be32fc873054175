#include "http/raw_reply.h"

namespace quarrin {

std::string PlainReply(unsigned status, std::string_view reason, std::string_view text,
                       std::string_view extra_headers) {
  return RawReply(status, reason, "text/plain", std::string(text) + "\r\n", extra_headers);
}

std::string RawReply(unsigned status, std::string_view reason, std::string_view content_type,
                     std::string_view body, std::string_view extra_headers) {
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  reply += "Content-Type: " + std::string(content_type) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "Connection: close\r\n";
  reply += extra_headers;
  reply += "\r\n";
  reply += body;
  return reply;
}

}  // namespace quarrin
