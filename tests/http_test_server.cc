#include "tests/http_test_server.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>

#include "platform/text/ascii.h"
#include "platform/net/ip_address.h"
#include "platform/net/tcp_socket.h"

namespace quarrin::testing {

namespace {

// What a connection thread keeps for one request while it arrives.
struct Exchange {
  std::string target;
  std::string body;
  bool headers_seen = false;
};

// The body of a reply that does not go out in one piece.
constexpr std::chrono::milliseconds kTrickleInterval{100};

struct BodySource {
  HttpTestServer* server = nullptr;
  std::string data;
  bool endless = false;
  bool trickle = false;
  size_t cut = 0;  // for a dropped transfer: bytes sent before the drop
};

MHD_Result CollectHeader(void* cls, MHD_ValueKind /*kind*/, const char* key, const char* value) {
  static_cast<HeaderList*>(cls)->emplace_back(key ? key : "", value ? value : "");
  return MHD_YES;
}

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr) return "";
  const std::optional<IpAddress> ip = IpAddressOf(info->client_addr);
  return ip && ip->IsIPv4() ? ip->Text() : "";
}

void FreeBody(void* cls) { delete static_cast<BodySource*>(cls); }

}  // namespace

class HttpTestServer::Callbacks {
 public:
  static void* OnUri(void* /*cls*/, const char* uri, MHD_Connection* /*connection*/) {
    auto* exchange = new Exchange;
    exchange->target = uri ? uri : "";
    return exchange;
  }

  static void OnCompleted(void* /*cls*/, MHD_Connection* /*connection*/, void** request_state,
                          MHD_RequestTerminationCode /*reason*/) {
    delete static_cast<Exchange*>(*request_state);
    *request_state = nullptr;
  }

  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                              const char* method, const char* /*version*/,
                              const char* upload_data, size_t* upload_size,
                              void** request_state) {
    auto* server = static_cast<HttpTestServer*>(cls);
    auto* exchange = static_cast<Exchange*>(*request_state);
    if (exchange == nullptr) {  // no target seen; keep the request all the same
      exchange = new Exchange;
      exchange->target = url;
      *request_state = exchange;
    }
    if (!exchange->headers_seen) {
      exchange->headers_seen = true;
      return MHD_YES;
    }
    if (*upload_size != 0) {
      exchange->body.append(upload_data, *upload_size);
      *upload_size = 0;
      return MHD_YES;
    }

    RecordedRequest request;
    request.method = method;
    request.target = exchange->target;
    request.path = url;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &request.headers);
    request.body = std::move(exchange->body);
    request.client_address = ClientAddress(connection);

    TestHandler handler;
    {
      std::lock_guard lock(server->mu_);
      server->requests_.push_back(request);
      handler = server->handler_;
    }
    TestReply reply;
    try {
      reply = handler(request);
    } catch (const std::exception& e) {
      reply = Reply(500, std::string("handler failed: ") + e.what());
    }
    server->Sleep(reply.delay);
    return Queue(server, connection, std::move(reply));
  }

 private:
  static ssize_t ReadBody(void* cls, uint64_t pos, char* buf, size_t max) {
    auto* source = static_cast<BodySource*>(cls);
    if (source->server->stopping()) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (source->endless) {
      size_t n = 0;
      size_t at = static_cast<size_t>(pos % source->data.size());
      while (n < max) {
        size_t take = std::min(max - n, source->data.size() - at);
        std::memcpy(buf + n, source->data.data() + at, take);
        n += take;
        at = 0;
      }
      return static_cast<ssize_t>(n);
    }
    if (source->trickle) {
      source->server->Sleep(kTrickleInterval);
      if (pos >= source->data.size() || source->server->stopping()) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
      }
      buf[0] = source->data[static_cast<size_t>(pos)];
      return 1;
    }
    if (pos >= source->cut) return MHD_CONTENT_READER_END_WITH_ERROR;
    size_t take = std::min(max, source->cut - static_cast<size_t>(pos));
    std::memcpy(buf, source->data.data() + pos, take);
    return static_cast<ssize_t>(take);
  }

  static MHD_Result Queue(HttpTestServer* server, MHD_Connection* connection, TestReply reply) {
    MHD_Response* response = nullptr;
    if (reply.mode == TestReply::Mode::kNormal) {
      response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(),
                                                 MHD_RESPMEM_MUST_COPY);
    } else {
      auto* source = new BodySource;
      source->data = reply.body.size() >= 2 ? reply.body : std::string(4096, 'x');
      source->endless = reply.mode == TestReply::Mode::kEndless;
      source->trickle = reply.mode == TestReply::Mode::kTrickle;
      source->cut = source->data.size() / 2;
      source->server = server;
      uint64_t size = source->endless ? MHD_SIZE_UNKNOWN : source->data.size();
      response = MHD_create_response_from_callback(size, 16 * 1024, &Callbacks::ReadBody, source, FreeBody);
      if (response == nullptr) delete source;
    }
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.content_type.c_str());
    for (const auto& [name, value] : reply.headers) {
      MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned int>(reply.status), response);
    MHD_destroy_response(response);
    return queued;
  }
};

TestReply Reply(int status, std::string body, std::string content_type) {
  TestReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.content_type = std::move(content_type);
  return reply;
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringAsciiCase(key, name)) return value;
  }
  return "";
}

std::string RecordedRequest::Query() const {
  size_t q = target.find('?');
  return q == std::string::npos ? "" : target.substr(q + 1);
}

HttpTestServer::HttpTestServer(TestReply reply)
    : HttpTestServer([reply](const RecordedRequest&) { return reply; }) {}

HttpTestServer::HttpTestServer(TestHandler handler) : HttpTestServer(std::move(handler), {}) {}

HttpTestServer::HttpTestServer(TestHandler handler, const TestTls& tls)
    : handler_(std::move(handler)), https_(!tls.certificate_pem.empty()) {
  // The daemon copies the texts.
  MHD_OptionItem tls_options[] = {
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(tls.key_pem.c_str())},
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(tls.certificate_pem.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  std::string error;
  const TcpSocket listener = OpenTcpListener(ParseIpAddress("127.0.0.1"), 0, 64, &port_, &error);
  if (listener == kNoTcpSocket) throw std::runtime_error("test HTTP server: " + error);
  daemon_ = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
          (https_ ? MHD_USE_TLS : 0),
      0, nullptr, nullptr, &Callbacks::OnRequest, this,
      MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listener),
      MHD_OPTION_ARRAY, https_ ? tls_options : tls_options + 2,
      MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::OnUri, this,
      MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::OnCompleted, this,
      MHD_OPTION_CONNECTION_TIMEOUT, 60u,
      MHD_OPTION_END);
  // (Not closed on failure: the library closes it on some of its paths.)
  if (daemon_ == nullptr) throw std::runtime_error("test HTTP server: cannot serve on 127.0.0.1");
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  MHD_stop_daemon(daemon_);
}

std::string HttpTestServer::Url(std::string_view path) const {
  return (https_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) +
         std::string(path);
}

void HttpTestServer::SetHandler(TestHandler handler) {
  std::lock_guard lock(mu_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> HttpTestServer::Requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

size_t HttpTestServer::RequestCount() const {
  std::lock_guard lock(mu_);
  return requests_.size();
}

void HttpTestServer::Sleep(std::chrono::milliseconds d) {
  if (d <= std::chrono::milliseconds::zero()) return;
  std::unique_lock lock(mu_);
  stop_cv_.wait_for(lock, d, [this] { return stopping_; });
}

bool HttpTestServer::stopping() const {
  std::lock_guard lock(mu_);
  return stopping_;
}

std::string RefusingPort::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

}  // namespace quarrin::testing
