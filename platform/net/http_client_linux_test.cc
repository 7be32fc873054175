#include "platform/net/http_client.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/http_test_server.h"

namespace quarrin {
namespace {

using testing::HttpTestServer;
using testing::RecordedRequest;
using testing::RefusingPort;
using testing::Reply;
using testing::TestReply;

HttpRequest Get(const std::string& url) {
  HttpRequest request;
  request.url = url;
  request.connect_timeout = std::chrono::milliseconds(2000);
  request.total_timeout = std::chrono::milliseconds(5000);
  return request;
}

TEST(HttpClientTest, GetReturnsStatusBodyAndContentTypeAndSendsHeaders) {
  HttpTestServer server([](const RecordedRequest& r) {
    if (r.path == "/missing") return Reply(404, "gone");
    return Reply(200, "<data/>", "text/xml; charset=utf-8");
  });
  HttpRequest request = Get(server.Url("/QuarrinSrvc.xml?x=1"));
  request.headers = {{"Cache-Control", "no-cache"}, {"X-Empty", ""}};
  request.user_agent = "Mozilla/4.0";

  HttpResponse response = CurlHttpClient().Send(request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "<data/>");
  EXPECT_EQ(response.content_type, "text/xml; charset=utf-8");

  // Any status is a response, not an error.
  HttpResponse missing = CurlHttpClient().Send(Get(server.Url("/missing")));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "gone");

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/QuarrinSrvc.xml?x=1");
  EXPECT_EQ(requests[0].Header("user-agent"), "Mozilla/4.0");
  EXPECT_EQ(requests[0].Header("Cache-Control"), "no-cache");
  EXPECT_EQ(requests[0].client_address, "127.0.0.1");
  EXPECT_EQ(requests[1].Header("User-Agent"), kDefaultUserAgent);
}

TEST(HttpClientTest, PostSendsBodyAndContentType) {
  HttpTestServer server([](const RecordedRequest& r) { return Reply(200, "got " + r.body); });
  HttpRequest request = Get(server.Url("/soap"));
  request.method = HttpMethod::kPost;
  request.headers = {{"Content-Type", "text/xml"}};
  request.body = std::string(5000, 'b');  // large enough that an Expect round trip would show

  HttpResponse response = CurlHttpClient().Send(request);
  EXPECT_EQ(response.body, "got " + request.body);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].Header("Content-Type"), "text/xml");
  EXPECT_EQ(requests[0].Header("Expect"), "");
}

TEST(HttpClientTest, FollowsRedirectsOnlyWhenAsked) {
  HttpTestServer server([](const RecordedRequest& r) {
    if (r.path == "/old") {
      TestReply moved = Reply(302, "");
      moved.headers = {{"Location", "/new"}};
      return moved;
    }
    return Reply(200, "new place");
  });
  HttpResponse followed = CurlHttpClient().Send(Get(server.Url("/old")));
  EXPECT_EQ(followed.status, 200);
  EXPECT_EQ(followed.body, "new place");

  HttpRequest no_follow = Get(server.Url("/old"));
  no_follow.max_redirects = 0;
  EXPECT_EQ(CurlHttpClient().Send(no_follow).status, 302);
}

TEST(HttpClientTest, CookiesTravelAlongRedirectsOnlyWhenAccepted) {
  HttpTestServer server([](const RecordedRequest& r) {
    if (r.path == "/login") {
      TestReply moved = Reply(302, "");
      moved.headers = {{"Location", "/file"}, {"Set-Cookie", "session=42; Path=/"}};
      return moved;
    }
    return Reply(200, "cookie=" + r.Header("Cookie"));
  });
  HttpRequest request = Get(server.Url("/login"));
  request.cookies = true;
  EXPECT_EQ(CurlHttpClient().Send(request).body, "cookie=session=42");
  request.cookies = false;
  EXPECT_EQ(CurlHttpClient().Send(request).body, "cookie=");
}

TEST(HttpClientTest, ExchangesWithoutAResponseThrowHttpError) {
  RefusingPort refusing;
  HttpTestServer slow([] {
    TestReply reply = Reply(200, "late");
    reply.delay = std::chrono::seconds(10);
    return reply;
  }());
  HttpTestServer big(Reply(200, std::string(4096, 'x')));
  HttpTestServer endless([] {
    TestReply reply = Reply(200, "more ");
    reply.mode = TestReply::Mode::kEndless;
    return reply;
  }());
  HttpTestServer cut([] {
    TestReply reply = Reply(200, std::string(4096, 'y'));
    reply.mode = TestReply::Mode::kCloseMidTransfer;
    return reply;
  }());
  HttpTestServer loop([](const RecordedRequest& r) {
    TestReply moved = Reply(302, "");
    moved.headers = {{"Location", r.path == "/a" ? "/b" : "/a"}};
    return moved;
  });

  struct Case {
    const char* name;
    HttpRequest request;
    HttpError::Kind kind;
    const char* message_part;
  };
  auto with = [](HttpRequest r, const std::function<void(HttpRequest&)>& change) {
    change(r);
    return r;
  };
  Case cases[] = {
      {"refused", Get(refusing.Url()),
       HttpError::Kind::kTransport, "127.0.0.1"},
      {"unresolvable", Get("http://downloads.quarrin.invalid/"), HttpError::Kind::kTransport,
       "downloads.quarrin.invalid"},
      {"total time-out",
       with(Get(slow.Url()), [](HttpRequest& r) { r.total_timeout = std::chrono::milliseconds(300); }),
       HttpError::Kind::kTimeout, "timed out"},
      {"body over the limit",
       with(Get(big.Url()), [](HttpRequest& r) { r.max_body_bytes = 4095; }),
       HttpError::Kind::kBodyTooLarge, "larger than 4095 bytes"},
      {"endless body", with(Get(endless.Url()), [](HttpRequest& r) { r.max_body_bytes = 100000; }),
       HttpError::Kind::kBodyTooLarge, "larger than 100000 bytes"},
      {"dropped mid-transfer", Get(cut.Url()), HttpError::Kind::kTransport, ""},
      {"redirect loop", with(Get(loop.Url("/a")), [](HttpRequest& r) { r.max_redirects = 3; }),
       HttpError::Kind::kTooManyRedirects, "3"},
      {"not http", Get("file:///etc/passwd"), HttpError::Kind::kTransport, "file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto started = std::chrono::steady_clock::now();
    try {
      HttpResponse response = CurlHttpClient().Send(c.request);
      ADD_FAILURE() << "no error; status " << response.status;
    } catch (const HttpError& e) {
      EXPECT_EQ(e.kind(), c.kind) << e.what();
      EXPECT_NE(std::string(e.what()), "");
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  }
}

// No helper process is left behind, running or unreaped.
bool ChildrenLeft() {
  errno = 0;
  return waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD;
}

TEST(HttpClientTest, ASetCancelFlagAbandonsTheExchange) {
  HttpTestServer trickling([] {
    TestReply reply = Reply(200, std::string(10000, 'z'));
    reply.mode = TestReply::Mode::kTrickle;
    return reply;
  }());
  HttpTestServer silent([] {
    TestReply reply = Reply(200, "late");
    reply.delay = std::chrono::seconds(60);
    return reply;
  }());
  for (const HttpTestServer* server : {&trickling, &silent}) {
    SCOPED_TRACE(server == &trickling ? "trickling body" : "no answer");
    CancelFlag cancel;
    HttpRequest request = Get(server->Url());
    request.total_timeout = std::chrono::seconds(60);
    request.cancel = &cancel;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      cancel.Set();
    });
    try {
      CurlHttpClient().Send(request);
      ADD_FAILURE() << "the exchange ran to its end";
    } catch (const HttpError& e) {
      EXPECT_EQ(e.kind(), HttpError::Kind::kCancelled) << e.what();
    }
    EXPECT_FALSE(ChildrenLeft());
    stopper.join();
    // Once set, nothing is sent at all.
    size_t seen = server->RequestCount();
    EXPECT_THROW(CurlHttpClient().Send(request), HttpError);
    EXPECT_EQ(server->RequestCount(), seen);
  }
}

bool LibcurlMapped() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str().find("/libcurl") != std::string::npos;
}

TEST(HttpClientTest, ExchangesRunOutsideTheProcessAndLeaveNothingBehind) {
  // The test server answers in this process, so it sees the exchange's side.
  std::atomic<bool> loaded_while_answering{true};
  HttpTestServer server([&](const RecordedRequest&) {
    loaded_while_answering = LibcurlMapped();
    return Reply(200, "ok");
  });
  EXPECT_EQ(CurlHttpClient().Send(Get(server.Url())).body, "ok");
  EXPECT_FALSE(loaded_while_answering);
  EXPECT_FALSE(ChildrenLeft());
  RefusingPort refusing;
  EXPECT_THROW(CurlHttpClient().Send(Get(refusing.Url())), HttpError);
  EXPECT_FALSE(ChildrenLeft());
  EXPECT_FALSE(LibcurlMapped());
}

TEST(HttpClientTest, TheCancellingClientLendsItsFlagToEveryRequest) {
  HttpTestServer server(Reply(200, "ok"));
  CancelFlag stop;
  CancellingHttpClient client(CurlHttpClient(), stop);
  EXPECT_EQ(client.Send(Get(server.Url())).body, "ok");
  stop.Set();
  try {
    client.Send(Get(server.Url()));
    ADD_FAILURE() << "sent after the flag was set";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::kCancelled) << e.what();
  }
  EXPECT_EQ(server.RequestCount(), 1u);
}

}  // namespace
}  // namespace quarrin
