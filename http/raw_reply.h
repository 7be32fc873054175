// Short plain-text replies written straight to a connection's socket, for
// connections that the HTTP library does not answer: refused before it
// takes them, or cut off while their body arrives.
#ifndef QUARRIN_HTTP_RAW_REPLY_H_
#define QUARRIN_HTTP_RAW_REPLY_H_

#include <string>
#include <string_view>

namespace quarrin {

// "HTTP/1.1 <status> <reason>", the content type, length and
// "Connection: close", then `extra_headers` (each line ended by CR LF), and
// `text` followed by CR LF as the body.
std::string PlainReply(unsigned status, std::string_view reason, std::string_view text,
                       std::string_view extra_headers = "");

// Writes `reply` without waiting (a fresh socket's buffer takes it whole),
// ends the sending side and reads away what the client has already sent,
// so that closing the socket afterwards does not reset the connection
// before the client has read the reply. The socket stays open.
void WriteFinalReply(int fd, std::string_view reply);

}  // namespace quarrin

#endif  // QUARRIN_HTTP_RAW_REPLY_H_
