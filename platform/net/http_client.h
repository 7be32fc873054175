// The HTTP client behind every outbound call of the agent: the update
// manifest, the update download, the inventory web service and the
// service-desk lookup.
#ifndef QUARRIN_PLATFORM_NET_HTTP_CLIENT_H_
#define QUARRIN_PLATFORM_NET_HTTP_CLIENT_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sync/cancel_flag.h"

namespace quarrin {

enum class HttpMethod { kGet, kPost };

// Defaults of HttpRequest. A caller that talks to a known service sets its
// own; these only keep a forgotten setting from hanging a thread.
inline constexpr std::chrono::milliseconds kDefaultConnectTimeout{5000};
inline constexpr std::chrono::milliseconds kDefaultTotalTimeout{60000};
inline constexpr size_t kDefaultMaxBodyBytes = 64u << 20;  // 64 MiB
inline constexpr int kDefaultMaxRedirects = 5;
inline constexpr char kDefaultUserAgent[] = "QuarrinSrvc";

struct HttpRequest {
  HttpMethod method = HttpMethod::kGet;
  std::string url;  // http:// or https://; any other scheme fails with HttpError
  // Request headers in order, e.g. {"Content-Type", "text/xml"}. A header
  // with an empty value is sent empty.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // sent with POST

  // Time allowed to set up the connection, name lookup included. Zero or
  // less: no limit of its own.
  std::chrono::milliseconds connect_timeout = kDefaultConnectTimeout;
  // Time allowed for the whole exchange, connecting included. Zero or less:
  // no limit.
  std::chrono::milliseconds total_timeout = kDefaultTotalTimeout;
  // Above zero: the exchange fails once no byte has arrived for this long (a
  // read time-out, in whole seconds rounded up), whatever is left of the total.
  std::chrono::milliseconds idle_timeout{0};
  // A response body longer than this fails the exchange.
  size_t max_body_bytes = kDefaultMaxBodyBytes;
  // Redirects followed in a row; 0 returns a redirect as the response.
  int max_redirects = kDefaultMaxRedirects;
  // Accept cookies and send them back on the redirects of this exchange.
  bool cookies = false;
  std::string user_agent = kDefaultUserAgent;  // empty: no User-Agent header
  // Set: the exchange is abandoned within about a second of the flag being
  // set (HttpError of kind kCancelled), whatever the server does; one set
  // before the start sends nothing. Must outlive the exchange.
  const CancelFlag* cancel = nullptr;
};

struct HttpResponse {
  int status = 0;            // of the last response when redirects were followed
  std::string body;
  std::string content_type;  // the Content-Type header as sent; empty when none
};

// An exchange that did not produce a response: refused, name not resolved,
// timed out, body over the limit, too many redirects, connection lost. The
// message is the transport's own (for example "Failed to connect to
// 127.0.0.1 port 9: Connection refused").
class HttpError : public std::runtime_error {
 public:
  enum class Kind {
    kTransport,     // connecting, resolving, sending or receiving failed
    kTimeout,       // connect, total or idle time-out
    kBodyTooLarge,  // more than max_body_bytes
    kTooManyRedirects,
    kCancelled,     // abandoned because the request's cancel flag was set
  };
  HttpError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Safe for concurrent use by multiple threads: every exchange has its own
// connection and cookie store.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Sends the request and returns the response whatever its status (a 404
  // is a response, not an error). Throws HttpError when there is none.
  virtual HttpResponse Send(const HttpRequest& request) = 0;
};

// Hands every request to `inner` with `cancel` as its cancel flag, unless it
// has one of its own: a stop of the process abandons all its exchanges.
// Both must outlive the client.
class CancellingHttpClient final : public HttpClient {
 public:
  CancellingHttpClient(HttpClient& inner, const CancelFlag& cancel)
      : inner_(inner), cancel_(cancel) {}
  HttpResponse Send(const HttpRequest& request) override {
    if (request.cancel != nullptr) return inner_.Send(request);
    HttpRequest cancellable = request;
    cancellable.cancel = &cancel_;
    return inner_.Send(cancellable);
  }

 private:
  HttpClient& inner_;
  const CancelFlag& cancel_;
};

// The client on libcurl. Proxies named by the usual environment variables
// (http_proxy, no_proxy, ...) are honoured. Returns the one process-wide
// instance; each exchange runs in a helper process of its own, so libcurl
// is never loaded in the calling one. Linux only.
HttpClient& CurlHttpClient();

// The system's own client, one instance for the process: the one on libcurl
// on Linux; on Windows the one on WinHTTP, which takes the machine's WinHTTP
// proxy setting and checks HTTPS servers against the system's certificate
// store.
HttpClient& SystemHttpClient();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_HTTP_CLIENT_H_
