#include "http/request_head.h"

namespace quarrin {

namespace {

// The characters of a token (RFC 9110), which a method is.
bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsMethod(std::string_view text) {
  for (char c : text) {
    if (!IsTokenChar(c)) return false;
  }
  return true;
}

// Method, one or more blanks, a target (which may hold blanks), one or more
// blanks, HTTP/d.d, and nothing after it.
bool IsRequestLine(std::string_view line) {
  const size_t first_blank = line.find(' ');
  if (first_blank == 0 || first_blank == std::string_view::npos) return false;
  if (!IsMethod(line.substr(0, first_blank))) return false;
  const size_t last_blank = line.rfind(' ');
  const std::string_view version = line.substr(last_blank + 1);
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || !IsDigit(version[5]) ||
      version[6] != '.' || !IsDigit(version[7])) {
    return false;
  }
  std::string_view target = line.substr(first_blank, last_blank - first_blank);
  while (!target.empty() && target.front() == ' ') target.remove_prefix(1);
  if (target.empty()) return false;
  for (char c : target) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// Whether the empty line that ends the head is in what follows the request
// line.
bool HasEmptyLine(std::string_view after_request_line) {
  if (after_request_line.substr(0, 1) == "\n" || after_request_line.substr(0, 2) == "\r\n") {
    return true;
  }
  return after_request_line.find("\n\n") != std::string_view::npos ||
         after_request_line.find("\n\r\n") != std::string_view::npos;
}

}  // namespace

RequestHead ExamineRequestHead(std::string_view received, size_t limit) {
  RequestHead head;
  std::string_view rest = received;
  for (;;) {
    if (rest.substr(0, 1) == "\n") {
      rest.remove_prefix(1);
    } else if (rest.substr(0, 2) == "\r\n") {
      rest.remove_prefix(2);
    } else {
      break;
    }
  }
  const size_t line_end = rest.find('\n');
  if (line_end == std::string_view::npos) {
    // A CR at the very end may be the start of the line end.
    std::string_view method = rest.substr(0, rest.find(' '));
    if (!method.empty() && method.back() == '\r' && method.size() == rest.size()) {
      method.remove_suffix(1);
    }
    if (!IsMethod(method)) {
      head.state = HeadState::kNotHttp;
    } else if (received.size() >= limit) {
      head.state = HeadState::kTooLong;
    }
    return head;
  }
  std::string_view line = rest.substr(0, line_end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  head.request_line = std::string(line);
  if (!IsRequestLine(line)) {
    head.state = HeadState::kNotHttp;
  } else if (HasEmptyLine(rest.substr(line_end + 1))) {
    head.state = HeadState::kComplete;
  } else if (received.size() >= limit) {
    head.state = HeadState::kTooLong;
  }
  return head;
}

}  // namespace quarrin
