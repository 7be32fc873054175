#include "http/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/agent_metrics.h"
#include "http/raw_http_client_testing.h"
#include "platform/time/fake_clock.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::RawConnection;
using testing::RawExchange;
using testing::RawResponse;
using testing::ReadResponse;
using testing::SimpleRequest;

// A server on loopback whose handler records each request and answers with
// a fixed reply; stopped by its destructor.
class RecordingServer {
 public:
  explicit RecordingServer(HttpServerOptions options = {}) : server_([this](auto& rq, auto& rp) {
    Handle(rq, rp);
  }) {
    options.loopback_only = true;
    std::string error;
    if (!server_.Start(options, &error)) throw std::runtime_error(error);
  }

  uint16_t port() const { return server_.port(); }
  HttpServer& server() { return server_; }

  std::vector<HttpServerRequest> requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }
  void set_reply(HttpServerReply reply) {
    std::lock_guard lock(mu_);
    reply_ = std::move(reply);
  }
  void set_failure(std::string message) {
    std::lock_guard lock(mu_);
    failure_ = std::move(message);
  }

 private:
  void Handle(const HttpServerRequest& request, HttpServerReply& reply) {
    std::lock_guard lock(mu_);
    requests_.push_back(request);
    if (!failure_.empty()) throw std::runtime_error(failure_);
    reply = reply_;
  }

  std::mutex mu_;
  std::vector<HttpServerRequest> requests_;
  HttpServerReply reply_{"text/xml", "<ok/>"};
  std::string failure_;
  HttpServer server_;  // last: stopped before the members its handler uses go
};

TEST(HttpServerTest, FillsTheRequestFieldsFromWhatWasSent) {
  struct Case {
    std::string sent;
    HttpServerRequest expected;  // RemoteIP is always 127.0.0.1
  } cases[] = {
      {SimpleRequest("GET /?msg=Back%20in%205%20minutes HTTP/1.1"),
       {"GET /?msg=Back%20in%205%20minutes HTTP/1.1", "", "GET", "msg=Back%20in%205%20minutes", "",
        "msg=Back%20in%205%20minutes", "", ""}},
      {SimpleRequest("GET /a%2Fb?x=a+b&y=%3C?z HTTP/1.0"),
       {"GET /a%2Fb?x=a+b&y=%3C?z HTTP/1.0", "", "GET", "x=a+b&y=%3C?z", "", "x=a+b&y=%3C?z", "",
        ""}},
      {"POST /apps?refresh=1 HTTP/1.1\r\nHost: h\r\nContent-Length: 7\r\n\r\nname=me",
       {"POST /apps?refresh=1 HTTP/1.1", "", "POST", "refresh=1", "name=me", "name=me\r\nrefresh=1",
        "", ""}},
      {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\na&b",
       {"POST / HTTP/1.1", "", "POST", "", "a&b", "a&b", "", ""}},
      {"POST /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n",
       {"POST /x HTTP/1.1", "", "POST", "", "abcde", "abcde", "", ""}},
      {"GET /help HTTP/1.1\r\nHost: h\r\nFrom: admin@example.org\r\nAccept: text/xml, */*\r\n\r\n",
       {"GET /help HTTP/1.1", "", "GET", "", "", "", "admin@example.org", "text/xml, */*"}},
      // The line exactly as sent, whatever the library makes of it.
      {SimpleRequest("GET  /info  HTTP/1.1"), {"GET  /info  HTTP/1.1", "", "GET", "", "", "", "", ""}},
      {SimpleRequest("GET  /help?x HTTP/1.0"),
       {"GET  /help?x HTTP/1.0", "", "GET", "x", "", "x", "", ""}},
      {"\r\nGET / HTTP/1.1\nHost: h\n\n", {"GET / HTTP/1.1", "", "GET", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    RecordingServer server;
    RawResponse r = RawExchange(server.port(), c.sent, 3s);
    EXPECT_EQ(r.status, 200);
    ASSERT_EQ(server.requests().size(), 1u);
    const HttpServerRequest got = server.requests()[0];
    EXPECT_EQ(got.RawHTTPCommand, c.expected.RawHTTPCommand);
    EXPECT_EQ(got.RemoteIP, "127.0.0.1");
    EXPECT_EQ(got.Command, c.expected.Command);
    EXPECT_EQ(got.QueryParams, c.expected.QueryParams);
    EXPECT_EQ(got.FormParams, c.expected.FormParams);
    EXPECT_EQ(got.UnparsedParams, c.expected.UnparsedParams);
    EXPECT_EQ(got.From, c.expected.From);
    EXPECT_EQ(got.Accept, c.expected.Accept);
  }
}

TEST(HttpServerTest, GivesThePathAndEveryHeaderAsSent) {
  RecordingServer server;
  RawResponse r = RawExchange(
      server.port(),
      "POST /soap/IQuarrin?wsdl HTTP/1.1\r\nHost: inventory.example:8090\r\n"
      "SOAPAction: \"urn:x#Put\"\r\nauthorization: Bearer abc\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(r.status, 200);
  ASSERT_EQ(server.requests().size(), 1u);
  const HttpServerRequest got = server.requests()[0];
  EXPECT_EQ(got.Path, "/soap/IQuarrin");
  EXPECT_EQ(got.Header("host"), "inventory.example:8090");
  EXPECT_EQ(got.Header("SOAPACTION"), "\"urn:x#Put\"");
  EXPECT_EQ(got.Header("Authorization"), "Bearer abc");
  EXPECT_EQ(got.Header("Accept"), "");
  ASSERT_EQ(got.Headers.size(), 4u);
  EXPECT_EQ(got.Headers[2].first, "authorization");
}

TEST(HttpServerTest, SendsTheHandlersHeadersButNotOnesTheServerOwns) {
  RecordingServer server;
  server.set_reply({"application/json", "{}", 401,
                    {{"WWW-Authenticate", "Bearer"}, {"Content-Length", "99"},
                     {"Connection", "keep-alive"}}});
  RawResponse r = RawExchange(server.port(), SimpleRequest("GET /api HTTP/1.1"));
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(r.Header("WWW-Authenticate"), "Bearer");
  EXPECT_EQ(r.Header("Content-Length"), "2");
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_EQ(r.body, "{}");
}

TEST(HttpServerTest, ServesTheMethodsItIsGivenAndRefusesTheRest) {
  HttpServerOptions options;
  options.methods = {"GET", "PUT"};
  RecordingServer server(options);
  RawResponse put = RawExchange(
      server.port(), "PUT /api/v1/assets/PC1 HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\n{}");
  EXPECT_EQ(put.status, 200);
  RawResponse post = RawExchange(server.port(), SimpleRequest("POST / HTTP/1.1"));
  EXPECT_EQ(post.status, 405);
  EXPECT_EQ(post.Header("Allow"), "GET, PUT");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].Command, "PUT");
  EXPECT_EQ(server.requests()[0].FormParams, "{}");
}

TEST(HttpServerTest, RepliesWithTheHandlersTypeAndBodyAndClosesTheConnection) {
  RecordingServer server;
  server.set_reply({"image/jpeg", std::string("\xFF\xD8\0\x01", 4)});
  // Even a client that asks to keep the connection gets it closed.
  RawResponse r = RawExchange(
      server.port(), "GET /disk_d HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n\r\n", 10s);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "image/jpeg");
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_EQ(r.Header("Content-Length"), "4");
  EXPECT_EQ(r.body, std::string("\xFF\xD8\0\x01", 4));
  EXPECT_TRUE(r.closed);
}

TEST(HttpServerTest, HeadGetsTheHeadersWithoutTheBody) {
  RecordingServer server;
  server.set_reply({"text/xml", "<Quarrin>twenty bytes</Quarrin>"});
  RawResponse r = RawExchange(server.port(), SimpleRequest("HEAD / HTTP/1.1"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/xml");
  EXPECT_EQ(r.Header("Content-Length"), "31");
  EXPECT_EQ(r.body, "");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].RawHTTPCommand, "HEAD / HTTP/1.1");
}

TEST(HttpServerTest, AHandlerFailureIsStatus500WithTheMessageAsHtml) {
  RecordingServer server;
  server.set_failure("Invalid data type for 'SerialNo' <b>&</b>");
  RawResponse r = RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"));
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.body, "Invalid data type for 'SerialNo' &lt;b&gt;&amp;&lt;/b&gt;");
  EXPECT_TRUE(r.closed);
}

TEST(HttpServerTest, OtherMethodsAreRefusedWithoutReachingTheHandler) {
  RecordingServer server;
  for (const char* line : {"PUT / HTTP/1.1", "DELETE /apps HTTP/1.1", "get / HTTP/1.1"}) {
    SCOPED_TRACE(line);
    RawResponse r = RawExchange(server.port(), SimpleRequest(line));
    EXPECT_EQ(r.status, 405);
    EXPECT_EQ(r.Header("Allow"), "GET, POST, HEAD");
    EXPECT_TRUE(r.closed);
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST(HttpServerTest, BodiesOverTheLimitGet413) {
  HttpServerOptions options;
  options.max_body_bytes = 1000;
  RecordingServer server(options);
  const std::string at_limit(1000, 'a');
  const std::string over(1001, 'a');

  RawResponse ok = RawExchange(server.port(), "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1000\r\n\r\n" + at_limit);
  EXPECT_EQ(ok.status, 200);

  // Declared too long: refused before the body is read.
  RawResponse declared = RawExchange(
      server.port(), "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1001\r\n\r\n" + over);
  EXPECT_EQ(declared.status, 413);
  EXPECT_TRUE(declared.closed);
  RawResponse absurd = RawExchange(
      server.port(), "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 99999999999999999999\r\n\r\n");
  EXPECT_NE(absurd.status, 200);

  // Chunked: found too long while it arrives.
  std::string chunked = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) chunked += "190\r\n" + std::string(400, 'b') + "\r\n";
  chunked += "0\r\n\r\n";
  RawResponse streamed = RawExchange(server.port(), chunked);
  EXPECT_EQ(streamed.status, 413);

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].FormParams, at_limit);
}

TEST(HttpServerTest, OversizedRequestLinesAndHeadersAreRefused) {
  RecordingServer server;
  RawResponse line = RawExchange(
      server.port(), SimpleRequest("GET /" + std::string(100000, 'x') + " HTTP/1.1"));
  EXPECT_GE(line.status, 400);
  EXPECT_LT(line.status, 500);
  std::string headers = "GET / HTTP/1.1\r\nHost: h\r\n";
  for (int i = 0; i < 2000; ++i) headers += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'y') + "\r\n";
  RawResponse many = RawExchange(server.port(), headers + "\r\n");
  EXPECT_GE(many.status, 400);
  EXPECT_LT(many.status, 500);
  // Bytes of every value in the request line reach the handler as sent.
  RawResponse odd = RawExchange(server.port(), SimpleRequest("GET /\x93x\x94\xA0%00 HTTP/1.1"));
  EXPECT_EQ(odd.status, 200);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].RawHTTPCommand, "GET /\x93x\x94\xA0%00 HTTP/1.1");
}

TEST(HttpServerTest, FailsToStartOnAPortThatIsTaken) {
  RecordingServer first;
  HttpServer second([](const HttpServerRequest&, HttpServerReply&) {});
  HttpServerOptions options;
  options.port = first.port();
  options.loopback_only = true;
  std::string error;
  EXPECT_FALSE(second.Start(options, &error));
  EXPECT_FALSE(second.running());
  EXPECT_EQ(error, "bind to port " + std::to_string(first.port()) + ": Address already in use");
  // The first one still answers.
  EXPECT_EQ(RawExchange(first.port(), SimpleRequest("GET / HTTP/1.1")).status, 200);
}

TEST(HttpServerTest, ACertificateThatCannotBeHadKeepsThePortClosed) {
  // A port that was free a moment ago.
  uint16_t port = 0;
  std::string error;
  CloseTcp(OpenTcpListener(ParseIpAddress("127.0.0.1"), 0, 1, &port, &error));
  HttpServer server([](const HttpServerRequest&, HttpServerReply&) {});
  HttpServerOptions options;
  options.port = port;
  options.loopback_only = true;
  options.tls_certificate.pfx_file = "no-such-folder/missing.pfx";
  EXPECT_FALSE(server.Start(options, &error));
  // Linux serves no PFX file; Windows cannot read this one.
  EXPECT_EQ(error.rfind("HTTPS on port " + std::to_string(port) + ": ", 0), 0u) << error;
  EXPECT_FALSE(server.running());
  EXPECT_FALSE(RawConnection(port).valid());
}

// A GET / on a fresh connection, tried until it is answered or `patience`
// is over: a connection that has just ended may hold its slot a moment
// longer, until the server has cleaned it up.
int StatusWithin(uint16_t port, std::chrono::milliseconds patience) {
  const auto end = std::chrono::steady_clock::now() + patience;
  int status = 0;
  while ((status = RawExchange(port, SimpleRequest("GET / HTTP/1.1"), 2s).status) == 0 &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(50ms);
  }
  return status;
}

// The connections of `count` clients that send nothing, from `from`.
std::vector<std::unique_ptr<RawConnection>> Idle(uint16_t port, int count, const char* from) {
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < count; ++i) idle.push_back(std::make_unique<RawConnection>(port, from));
  return idle;
}

TEST(HttpServerTest, AClientOverItsLimitIsRefusedWhileOthersAreServed) {
  FakeClock clock;
  AgentMetrics metrics(clock);
  HttpServerOptions options;  // 8 a client, 64 in all
  options.metrics = &metrics;
  RecordingServer server(options);
  auto held = Idle(server.port(), 8, "127.0.0.2");
  RawResponse ninth = RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s, "127.0.0.2");
  EXPECT_EQ(ninth.status, 503);
  EXPECT_EQ(ninth.Header("Retry-After"), "5");
  EXPECT_TRUE(ninth.closed);
  EXPECT_EQ(RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s, "127.0.0.1").status, 200);
  EXPECT_EQ(RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s, "127.0.0.3").status, 200);
  // A place given up is free again.
  held.pop_back();
  int status = 0;
  for (int i = 0; i < 40 && status != 200; ++i) {
    if (i > 0) std::this_thread::sleep_for(50ms);
    status = RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s, "127.0.0.2").status;
  }
  EXPECT_EQ(status, 200);
  EXPECT_EQ(server.requests().size(), 3u);
  EXPECT_GE(metrics.HttpRefusals(HttpRefusal::kPerClientLimit), 1u);
  EXPECT_EQ(metrics.HttpRefusals(HttpRefusal::kTimeout), 0u);
}

// A place is free again as soon as its reply has gone, so a client that
// asks one request after the other never finds its own places taken.
TEST(HttpServerTest, AClientAskingOneRequestAfterTheOtherIsNeverTurnedAway) {
  HttpServerOptions options;
  options.per_client_limit = 1;
  RecordingServer server(options);
  int refused = 0;
  for (int i = 0; i < 300; ++i) {
    if (RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s).status != 200) ++refused;
  }
  EXPECT_EQ(refused, 0);
}

TEST(HttpServerTest, AFullServerAnswers503WithRetryAfterUntilAPlaceIsFree) {
  HttpServerOptions options;
  options.connection_limit = 4;
  options.head_timeout = 1s;
  options.retry_after = 7s;
  FakeClock clock;
  AgentMetrics metrics(clock);
  options.metrics = &metrics;
  RecordingServer server(options);
  auto held = Idle(server.port(), 2, "127.0.0.2");
  auto more = Idle(server.port(), 2, "127.0.0.3");
  for (const char* from : {"127.0.0.1", "127.0.0.4"}) {
    RawResponse r = RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s, from);
    EXPECT_EQ(r.status, 503) << from;
    EXPECT_EQ(r.Header("Retry-After"), "7") << from;
  }
  // The idle ones are dropped when their head is late, and others are
  // answered again.
  for (auto* group : {&held, &more}) {
    for (auto& c : *group) {
      RawResponse dropped = ReadResponse(*c, 5s);
      EXPECT_EQ(dropped.status, 408);
      EXPECT_TRUE(dropped.closed);
    }
  }
  EXPECT_EQ(StatusWithin(server.port(), 2s), 200);
  EXPECT_EQ(server.requests().size(), 1u);
  // Each refusal counted under its reason.
  EXPECT_GE(metrics.HttpRefusals(HttpRefusal::kConnectionLimit), 2u);
  EXPECT_EQ(metrics.HttpRefusals(HttpRefusal::kTimeout), 4u);
  EXPECT_EQ(metrics.HttpRefusals(HttpRefusal::kPerClientLimit), 0u);
}

TEST(HttpServerTest, ATricklingClientIsCutOffAtTheHeadTimeOutOrTheDeadline) {
  // One byte every 100 ms never goes idle, but the head would take longer
  // than the head time-out, the body longer than the deadline.
  struct Case {
    std::string head;  // sent at once
    std::string trickled;
  } cases[] = {
      {"", SimpleRequest("GET / HTTP/1.1")},
      {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 40\r\n\r\n", std::string(40, 'b')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    HttpServerOptions options;
    options.idle_timeout = 10s;
    options.head_timeout = 1s;
    options.request_deadline = 1s;
    RecordingServer server(options);
    RawConnection slow(server.port());
    slow.Send(c.head);
    bool cut = false;
    for (size_t i = 0; i + 1 < c.trickled.size() && !cut; ++i) {
      if (!slow.Send(c.trickled.substr(i, 1))) cut = true;
      bool closed = false;
      slow.ReadToEnd(100ms, &closed);
      cut = cut || closed;
    }
    EXPECT_TRUE(cut);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1"), 5s).status, 200);
  }
}

TEST(HttpServerTest, RequestsThatCannotBeServedGetAStatusNotASilentClose) {
  HttpServerOptions options;
  options.max_body_bytes = 1000;
  RecordingServer server(options);
  struct Case {
    std::string sent;
    bool end_sending;  // the client closes its side after it
    int status;
  } cases[] = {
      {"HELLO\r\n\r\n", false, 400},
      {"GET /\r\n\r\n", false, 400},
      {"\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", false, 400},  // a TLS hello
      {"", true, 400},
      {"\r\n\r\n", true, 400},
      {"GET / HTTP/1.1\r\nHost:", true, 400},
      {"POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip\r\n\r\nxyz", false, 501},
      {"POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip, chunked\r\n\r\n1\r\na\r\n0\r\n\r\n",
       false, 501},
      {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde", false,
       400},
      {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabc", false,
       200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    RawConnection connection(server.port());
    connection.Send(c.sent);
    if (c.end_sending) connection.EndSending();
    RawResponse r = ReadResponse(connection, 5s);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.closed);
  }
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpServerTest, ABodyThatGrowsPastTheLimitIsCutOffWhenItPassesIt) {
  HttpServerOptions options;
  options.max_body_bytes = 1000;
  RecordingServer server(options);
  RawConnection connection(server.port());
  // 1,200 bytes of a body whose end never comes.
  connection.Send("POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n");
  for (int i = 0; i < 3; ++i) connection.Send("190\r\n" + std::string(400, 'b') + "\r\n");
  RawResponse r = ReadResponse(connection, 5s);
  EXPECT_EQ(r.status, 413);
  EXPECT_TRUE(r.closed);
  EXPECT_TRUE(server.requests().empty());
}

TEST(HttpServerTest, StopsWithIdleConnectionsOpenAndCanStartAgain) {
  HttpServer server([](const HttpServerRequest&, HttpServerReply& reply) { reply.body = "x"; });
  HttpServerOptions options;
  options.loopback_only = true;
  std::string error;
  ASSERT_TRUE(server.Start(options, &error)) << error;
  RawConnection idle(server.port());
  server.Stop();
  EXPECT_FALSE(server.running());
  EXPECT_EQ(server.port(), 0);
  ASSERT_TRUE(server.Start(options, &error)) << error;
  EXPECT_EQ(RawExchange(server.port(), SimpleRequest("GET / HTTP/1.1")).body, "x");
}

TEST(HttpServerTest, StopLetsARunningRequestSendItsReplyWithinTheGrace) {
  // The handler's request is what asks for the stop, as /update does.
  struct Case {
    std::chrono::milliseconds handler_time;
    bool answered;
  } cases[] = {{200ms, true}, {1500ms, false}};
  for (const Case& c : cases) {
    std::atomic<bool> entered{false};
    HttpServer server([&](const HttpServerRequest&, HttpServerReply& reply) {
      entered = true;
      std::this_thread::sleep_for(c.handler_time);
      reply.body = "done";
    });
    HttpServerOptions options;
    options.loopback_only = true;
    options.stop_grace = 500ms;
    std::string error;
    ASSERT_TRUE(server.Start(options, &error)) << error;
    const uint16_t port = server.port();
    RawResponse reply;
    std::thread client([&] { reply = RawExchange(port, SimpleRequest("GET /update HTTP/1.1"), 5s); });
    while (!entered) std::this_thread::sleep_for(5ms);
    const auto begun = std::chrono::steady_clock::now();
    server.Stop();
    const auto took = std::chrono::steady_clock::now() - begun;
    client.join();
    EXPECT_EQ(reply.status == 200 && reply.body == "done", c.answered)
        << c.handler_time.count() << " ms: " << reply.status << " " << reply.body;
    // Stop waited for the reply, or for the grace and the handler, no longer.
    EXPECT_LT(took, c.handler_time + 1s);
    EXPECT_FALSE(RawConnection(port).valid()) << "the listener is closed";
  }
}

}  // namespace
}  // namespace quarrin
