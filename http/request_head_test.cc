#include "http/request_head.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

TEST(RequestHeadTest, TellsWhetherTheHeadIsThereAndKeepsTheLineAsSent) {
  struct Case {
    std::string received;
    HeadState state;
    std::string line;
  } cases[] = {
      {"", HeadState::kIncomplete, ""},
      {"GE", HeadState::kIncomplete, ""},
      {"GET / HTTP/1.1\r", HeadState::kIncomplete, ""},
      {"GET / HTTP/1.1\r\nHost: h\r\n", HeadState::kIncomplete, "GET / HTTP/1.1"},
      {"GET / HTTP/1.1\r\n\r\n", HeadState::kComplete, "GET / HTTP/1.1"},
      {"GET / HTTP/1.1\r\nHost: h\r\n\r\nbody", HeadState::kComplete, "GET / HTTP/1.1"},
      {"GET / HTTP/1.0\nHost: h\n\n", HeadState::kComplete, "GET / HTTP/1.0"},
      // Blanks are kept as sent; blank lines before the request line are not part of it.
      {"GET  /info  HTTP/1.1\r\n\r\n", HeadState::kComplete, "GET  /info  HTTP/1.1"},
      {"\r\n\nPOST /a b?c HTTP/1.1\r\n\r\n", HeadState::kComplete, "POST /a b?c HTTP/1.1"},
      {"get /\x93x\xA0 HTTP/1.1\r\n\r\n", HeadState::kComplete, "get /\x93x\xA0 HTTP/1.1"},
      // Not HTTP, found as early as possible.
      {"\x16\x03\x01\x02\x00", HeadState::kNotHttp, ""},
      {"GET(", HeadState::kNotHttp, ""},
      {"HELLO\r\n", HeadState::kNotHttp, "HELLO"},
      {"GET /\r\n", HeadState::kNotHttp, "GET /"},
      {"GET / HTTP/1.1 \r\n", HeadState::kNotHttp, "GET / HTTP/1.1 "},
      {"GET / FTP/1.0\r\n", HeadState::kNotHttp, "GET / FTP/1.0"},
      {"GET  HTTP/1.1\r\n", HeadState::kNotHttp, "GET  HTTP/1.1"},
      {" GET / HTTP/1.1\r\n", HeadState::kNotHttp, " GET / HTTP/1.1"},
      {"GET /a\x01 HTTP/1.1\r\n", HeadState::kNotHttp, "GET /a\x01 HTTP/1.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.received);
    const RequestHead head = ExamineRequestHead(c.received, 1000);
    EXPECT_EQ(head.state, c.state);
    EXPECT_EQ(head.request_line, c.line);
  }
}

TEST(RequestHeadTest, AHeadThatFillsTheLimitWithoutEndingIsTooLong) {
  EXPECT_EQ(ExamineRequestHead("GET /" + std::string(95, 'x'), 100).state, HeadState::kTooLong);
  EXPECT_EQ(ExamineRequestHead("GET / HTTP/1.1\r\nX: " + std::string(90, 'y'), 100).state,
            HeadState::kTooLong);
  EXPECT_EQ(ExamineRequestHead("GET / HTTP/1.1\r\nX: " + std::string(70, 'y'), 100).state,
            HeadState::kIncomplete);
}

}  // namespace
}  // namespace quarrin
