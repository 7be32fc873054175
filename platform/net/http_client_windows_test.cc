#include "platform/net/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/winsock_start_windows.h"

namespace quarrin {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A loopback server of one thread that serves one connection at a time:
// reads a request (head and a Content-Length body) and hands it to the
// handler, which returns the whole answer; an empty answer keeps the
// connection open, unanswered, until the server is stopped.
class LoopbackServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;

  explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    StartWinsock();
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (listener_ == INVALID_SOCKET ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw LastWinsockError();
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  // Waits at most a slice for the socket to be readable, so that a stop is
  // seen soon.
  bool Readable(SOCKET s) const {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval slice{0, 50000};
    return select(0, &set, nullptr, nullptr, &slice) == 1;
  }

  void Serve() {
    while (!stop_) {
      if (!Readable(listener_)) continue;
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      std::string request;
      while (!stop_ && !Whole(request)) {
        if (!Readable(client)) continue;
        char buffer[4096];
        const int n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const std::string answer = handler_(request);
      if (answer.empty()) {
        while (!stop_) std::this_thread::sleep_for(milliseconds(20));
      }
      for (size_t sent = 0; sent < answer.size() && !stop_;) {
        const int n = send(client, answer.data() + sent, static_cast<int>(answer.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      shutdown(client, SD_SEND);
      closesocket(client);
    }
  }

  static bool Whole(const std::string& request) {
    const size_t head_end = request.find("\r\n\r\n");
    if (head_end == std::string::npos) return false;
    size_t length = 0;
    const size_t at = request.find("Content-Length: ");
    if (at != std::string::npos && at < head_end) length = std::stoul(request.substr(at + 16));
    return request.size() >= head_end + 4 + length;
  }

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

std::string Answer(int status, const std::string& body, const std::string& type = "") {
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
  if (!type.empty()) answer += "Content-Type: " + type + "\r\n";
  return answer + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

HttpRequest Get(const std::string& url) {
  HttpRequest request;
  request.url = url;
  request.connect_timeout = milliseconds(2000);
  request.total_timeout = milliseconds(5000);
  return request;
}

HttpError::Kind KindOfFailure(const HttpRequest& request) {
  try {
    SystemHttpClient().Send(request);
  } catch (const HttpError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no error for " << request.url;
  return HttpError::Kind::kTransport;
}

TEST(WinHttpClientTest, GetReturnsStatusBodyAndContentTypeWhateverTheStatus) {
  LoopbackServer server([](const std::string& request) {
    if (request.find("GET /missing ") == 0) return Answer(404, "gone");
    return Answer(200, "<data/>", "text/xml; charset=utf-8");
  });
  HttpRequest request = Get(server.Url("/QuarrinSrvc.xml?x=1"));
  request.headers = {{"Cache-Control", "no-cache"}};
  request.user_agent = "Mozilla/4.0";
  const HttpResponse response = SystemHttpClient().Send(request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "<data/>");
  EXPECT_EQ(response.content_type, "text/xml; charset=utf-8");

  const HttpResponse missing = SystemHttpClient().Send(Get(server.Url("/missing")));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "gone");
  EXPECT_EQ(missing.content_type, "");

  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("GET /QuarrinSrvc.xml?x=1 HTTP/1.1\r\n", 0), 0u) << requests[0];
  EXPECT_NE(requests[0].find("User-Agent: Mozilla/4.0\r\n"), std::string::npos) << requests[0];
  EXPECT_NE(requests[0].find("Cache-Control: no-cache\r\n"), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find(std::string("User-Agent: ") + kDefaultUserAgent), std::string::npos);
}

TEST(WinHttpClientTest, PostSendsSoapHeadersAndBody) {
  LoopbackServer server([](const std::string&) { return Answer(200, "<ok/>", "text/xml"); });
  HttpRequest request = Get(server.Url("/Inventory.asmx"));
  request.method = HttpMethod::kPost;
  request.headers = {{"Content-Type", "text/xml; charset=utf-8"},
                     {"SOAPAction", "\"http://example.test/Add\""}};
  request.body = "<soap:Envelope>\xC3\xA9</soap:Envelope>";
  const HttpResponse response = SystemHttpClient().Send(request);
  EXPECT_EQ(response.body, "<ok/>");

  const std::string sent = server.Requests().at(0);
  EXPECT_EQ(sent.rfind("POST /Inventory.asmx HTTP/1.1\r\n", 0), 0u) << sent;
  EXPECT_NE(sent.find("SOAPAction: \"http://example.test/Add\"\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("Content-Type: text/xml; charset=utf-8\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("Content-Length: " + std::to_string(request.body.size())),
            std::string::npos);
  EXPECT_EQ(sent.substr(sent.size() - request.body.size()), request.body);
}

TEST(WinHttpClientTest, BodyCapHoldsWhetherTheLengthIsToldOrNot) {
  const std::string body(300000, 'x');
  LoopbackServer told([&](const std::string&) { return Answer(200, body); });
  LoopbackServer untold([&](const std::string&) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
  });
  for (LoopbackServer* server : {&told, &untold}) {
    HttpRequest request = Get(server->Url("/big"));
    request.max_body_bytes = body.size();
    EXPECT_EQ(SystemHttpClient().Send(request).body.size(), body.size());
    request.max_body_bytes = body.size() - 1;
    EXPECT_EQ(KindOfFailure(request), HttpError::Kind::kBodyTooLarge);
  }
}

TEST(WinHttpClientTest, FailuresAreErrorsOfTheirKind) {
  // A port that was just free: nothing listens there.
  std::string refused_url;
  {
    LoopbackServer gone([](const std::string&) { return Answer(200, ""); });
    refused_url = gone.Url("/");
  }
  EXPECT_EQ(KindOfFailure(Get(refused_url)), HttpError::Kind::kTransport);
  EXPECT_EQ(KindOfFailure(Get("ftp://127.0.0.1/file")), HttpError::Kind::kTransport);
  EXPECT_EQ(KindOfFailure(Get("not a url")), HttpError::Kind::kTransport);
}

TEST(WinHttpClientTest, SilentServerEndsInATimeOutWithinTheTotal) {
  LoopbackServer silent([](const std::string&) { return std::string(); });
  for (bool idle : {false, true}) {
    HttpRequest request = Get(silent.Url("/"));
    request.total_timeout = milliseconds(idle ? 10000 : 1000);
    if (idle) request.idle_timeout = milliseconds(1000);
    const auto start = Clock::now();
    EXPECT_EQ(KindOfFailure(request), HttpError::Kind::kTimeout) << idle;
    EXPECT_LT(Clock::now() - start, milliseconds(4000)) << idle;
  }
}

TEST(WinHttpClientTest, CancelAbandonsAWaitingExchangeAndStopsOneNotStarted) {
  LoopbackServer silent([](const std::string&) { return std::string(); });
  CancelFlag cancel;
  HttpRequest request = Get(silent.Url("/"));
  request.total_timeout = milliseconds(60000);
  request.cancel = &cancel;
  std::thread stopper([&] {
    std::this_thread::sleep_for(milliseconds(300));
    cancel.Set();
  });
  const auto start = Clock::now();
  EXPECT_EQ(KindOfFailure(request), HttpError::Kind::kCancelled);
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  stopper.join();

  // Set before the start: nothing reaches the server.
  const size_t seen = silent.Requests().size();
  EXPECT_EQ(KindOfFailure(request), HttpError::Kind::kCancelled);
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(silent.Requests().size(), seen);
}

}  // namespace
}  // namespace quarrin
