// The start of a request as it arrives on a connection, looked at before the
// HTTP server reads it: whether its head (request line and headers) is all
// there, and its request line exactly as sent.
#ifndef QUARRIN_HTTP_REQUEST_HEAD_H_
#define QUARRIN_HTTP_REQUEST_HEAD_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarrin {

enum class HeadState {
  kIncomplete,  // more may come
  kComplete,    // the empty line after the headers has arrived
  kNotHttp,     // the request line is not method, blanks, target, blanks, HTTP/d.d
  kTooLong,     // `limit` bytes and still no end of the head
};

struct RequestHead {
  HeadState state = HeadState::kIncomplete;
  // The request line as received, without its line end (CR LF or LF) and
  // without the empty lines a client may send before it; set once the line
  // is complete.
  std::string request_line;
};

// Looks at the first bytes received on a connection. Empty lines before the
// request line are skipped, as the server skips them. A request line is
// rejected as soon as its method holds a character that no method may have,
// before the line is complete.
RequestHead ExamineRequestHead(std::string_view received, size_t limit);

}  // namespace quarrin

#endif  // QUARRIN_HTTP_REQUEST_HEAD_H_
