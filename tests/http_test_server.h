// A small HTTP server for tests that stands in for the separate systems the
// agent calls (the download site, the inventory web service, the service
// desk). It listens on 127.0.0.1 on a port the system picks, runs one thread
// per connection, hands every request to a handler and records what came in.
//
//   HttpTestServer server([](const RecordedRequest& r) {
//     return Reply(200, "<data/>", "text/xml");
//   });
//   ... fetch server.Url("/downloads/QuarrinSrvc.xml") ...
//
// The destructor stops the server and joins its threads, so a failing test
// never leaves a listener behind.
#ifndef QUARRIN_TESTS_HTTP_TEST_SERVER_H_
#define QUARRIN_TESTS_HTTP_TEST_SERVER_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MHD_Daemon;

namespace quarrin::testing {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct RecordedRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // the request target as sent: path and query, undecoded
  std::string path;    // the path, percent-decoded
  HeaderList headers;  // in the order received
  std::string body;
  std::string client_address;  // "127.0.0.1"

  // The value of the first header of that name (ASCII case ignored); empty
  // when there is none.
  std::string Header(std::string_view name) const;
  // The query's text after "?", undecoded; empty when there is none.
  std::string Query() const;
};

struct TestReply {
  // How the body goes out.
  enum class Mode {
    kNormal,            // the whole body with its Content-Length
    kCloseMidTransfer,  // announces the whole body, sends the first half, drops the connection
    kEndless,           // chunked, repeats the body (or filler) until the client gives up
    kTrickle,           // announces the whole body, sends one byte of it every 100 ms
  };

  int status = 200;
  std::string body;
  std::string content_type = "text/plain";
  HeaderList headers;  // further response headers (Location, Set-Cookie, ...)
  // Time to wait before answering. Cut short when the server stops.
  std::chrono::milliseconds delay{0};
  Mode mode = Mode::kNormal;
};

// A plain reply in one piece.
TestReply Reply(int status, std::string body, std::string content_type = "text/plain");

using TestHandler = std::function<TestReply(const RecordedRequest&)>;

// Safe for concurrent use by multiple threads. The handler runs on the
// connection threads, so it must be too.
// A certificate and its key, PEM texts, for a server that speaks HTTPS.
struct TestTls {
  std::string certificate_pem;
  std::string key_pem;
};

class HttpTestServer {
 public:
  // Starts listening at once; throws std::runtime_error when it cannot.
  explicit HttpTestServer(TestHandler handler);
  // The same over HTTPS.
  HttpTestServer(TestHandler handler, const TestTls& tls);
  // A server that answers every request with the same reply.
  explicit HttpTestServer(TestReply reply);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + path ("https://..." over HTTPS).
  std::string Url(std::string_view path = "/") const;

  // Replaces the handler for the requests that follow.
  void SetHandler(TestHandler handler);

  // The requests received so far, oldest first.
  std::vector<RecordedRequest> Requests() const;
  size_t RequestCount() const;

 private:
  // The libmicrohttpd callbacks, defined with the server.
  class Callbacks;
  friend class Callbacks;

  // Waits for d unless the server is stopping first.
  void Sleep(std::chrono::milliseconds d);
  bool stopping() const;

  mutable std::mutex mu_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  TestHandler handler_;
  std::vector<RecordedRequest> requests_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  bool https_ = false;
};

// A TCP port on 127.0.0.1 that is bound but not listening, for as long as
// the object lives: connecting to it is refused at once.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(std::string_view path = "/") const;

 private:
  std::intptr_t fd_ = -1;  // a descriptor or SOCKET
  uint16_t port_ = 0;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_HTTP_TEST_SERVER_H_
