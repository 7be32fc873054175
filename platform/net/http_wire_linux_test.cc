#include "platform/net/http_wire_linux.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

HttpRequest FullRequest() {
  HttpRequest r;
  r.method = HttpMethod::kPost;
  r.url = "https://inventory.example/soap";
  r.headers = {{"Content-Type", "text/xml"}, {"SOAPAction", ""}};
  r.body = std::string("<a>\0b</a>", 8);
  r.connect_timeout = std::chrono::milliseconds(1234);
  r.total_timeout = std::chrono::milliseconds(-1);
  r.idle_timeout = std::chrono::milliseconds(7000);
  r.max_body_bytes = 42;
  r.max_redirects = 0;
  r.cookies = true;
  r.user_agent = "";
  return r;
}

TEST(HttpWireTest, RequestsArriveAsTheyWereSent) {
  const HttpRequest sent = FullRequest();
  const std::optional<HttpRequest> got = DecodeHttpRequest(EncodeHttpRequest(sent));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->method, sent.method);
  EXPECT_EQ(got->url, sent.url);
  EXPECT_EQ(got->headers, sent.headers);
  EXPECT_EQ(got->body, sent.body);
  EXPECT_EQ(got->connect_timeout, sent.connect_timeout);
  EXPECT_EQ(got->total_timeout, sent.total_timeout);
  EXPECT_EQ(got->idle_timeout, sent.idle_timeout);
  EXPECT_EQ(got->max_body_bytes, sent.max_body_bytes);
  EXPECT_EQ(got->max_redirects, sent.max_redirects);
  EXPECT_EQ(got->cookies, sent.cookies);
  EXPECT_EQ(got->user_agent, sent.user_agent);
}

TEST(HttpWireTest, OutcomesArriveAsResponsesOrTheirErrors) {
  HttpResponse response{404, std::string("gone\0", 5), "text/plain"};
  HttpResponse got = DecodeHttpOutcome(EncodeHttpResponse(response));
  EXPECT_EQ(got.status, 404);
  EXPECT_EQ(got.body, response.body);
  EXPECT_EQ(got.content_type, "text/plain");
  try {
    DecodeHttpOutcome(EncodeHttpError(HttpError(HttpError::Kind::kTimeout, "too slow")));
    ADD_FAILURE() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::kTimeout);
    EXPECT_STREQ(e.what(), "too slow");
  }
}

// A helper that ended half-way, or bytes that are no outcome, give an error
// of their own, never a response made of what happened to arrive.
TEST(HttpWireTest, CutOrForeignBytesAreRefused) {
  const std::string whole = EncodeHttpResponse({200, "body", "text/xml"});
  for (size_t size = 0; size < whole.size(); ++size) {
    SCOPED_TRACE(size);
    try {
      DecodeHttpOutcome(whole.substr(0, size));
      ADD_FAILURE() << "taken";
    } catch (const HttpError& e) {
      EXPECT_EQ(e.kind(), HttpError::Kind::kTransport);
    }
    EXPECT_FALSE(DecodeHttpRequest(EncodeHttpRequest(FullRequest()).substr(0, size)));
  }
  EXPECT_THROW(DecodeHttpOutcome(whole + "x"), HttpError);
  EXPECT_THROW(DecodeHttpOutcome(std::string(64, '\xff')), HttpError);
  EXPECT_FALSE(DecodeHttpRequest(std::string(64, '\xff')));
}

}  // namespace
}  // namespace quarrin
