// Short plain-text replies written straight to a connection's socket
// (SendFinalTcp), for connections that the HTTP library does not answer:
// refused before it takes them, or cut off while their body arrives.
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

// The same with `body` of that content type, sent as it is.
std::string RawReply(unsigned status, std::string_view reason, std::string_view content_type,
                     std::string_view body, std::string_view extra_headers = "");

}  // namespace quarrin

#endif  // QUARRIN_HTTP_RAW_REPLY_H_
