// The agent's embedded HTTP server: libmicrohttpd with one thread per
// connection, handing every request of the methods served (GET, POST and
// HEAD unless the options say otherwise) to one handler.
//
// Every reply closes its connection ("Connection: close"); a HEAD request
// gets the headers of the reply without its body. Requests that never reach
// the handler get a short plain-text reply:
//   405  a method that is not served (with "Allow")
//   413  a body larger than max_body_bytes
//   414, 431 (from libmicrohttpd) a request line or headers that do not fit
//        in header_memory_bytes
//   400  a request line that is not HTTP, a request that ends before its
//        head does, or two different Content-Length headers
//   501  a transfer coding other than chunked
//
// Hostile clients. Connections are taken by a gate (connection_gate.h) that
// holds each one without a thread until its request head has arrived, and
// answers 503 with Retry-After when connection_limit connections are open
// or the client's address holds per_client_limit of them; a head that has
// not arrived head_timeout after the connection was opened gets 408. Then a
// connection holds one thread and at most header_memory_bytes +
// max_body_bytes of memory. A connection on which nothing arrives (or
// nothing can be sent) for idle_timeout is closed; one that is still sending
// its body request_deadline after its head arrived is cut off however slowly
// it trickles in, and so is one whose client has not taken the reply
// request_deadline after it was ready. A body that passes max_body_bytes is
// cut off there (413). So a client that opens connections and sends
// nothing, or a byte now and then, holds at most per_client_limit places for
// at most head_timeout each, and every other client is answered. The
// handler itself has no deadline: what it waits for (the inventory web
// service, an update download) has its own time-outs.
//
// HTTPS through the TLS front (Windows) keeps all of this: a connection
// holds its place from its accept, its handshake and then its head must
// arrive within head_timeout, and the library serves its plain text with
// the client's own address. HTTPS in the library (Linux) hands each
// connection over at once, and the library's idle time-out stands in for
// the head time-out.
#ifndef QUARRIN_HTTP_HTTP_SERVER_H_
#define QUARRIN_HTTP_HTTP_SERVER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/net/ip_address.h"
#include "platform/net/tls_front.h"

namespace quarrin {

class AgentMetrics;

// What the handler reads from a request.
struct HttpServerRequest {
  // The request line exactly as received, without its line end: the
  // method, the target (not percent-decoded) and the protocol version with
  // the blanks between them as sent.
  std::string RawHTTPCommand;
  std::string RemoteIP;     // the peer's address: dotted decimal for IPv4
  std::string Command;      // the method, upper case
  std::string QueryParams;  // the target after its first "?", undecoded; empty when none
  std::string FormParams;   // the body; empty when none
  // The body, CR LF and the query when there are both; else whichever exists.
  std::string UnparsedParams;
  std::string From;    // the From header; empty when absent
  std::string Accept;  // the Accept header; empty when absent
  std::optional<IpAddress> RemoteAddress = std::nullopt;  // the peer's; nullopt when unknown
  std::string Path = std::string();  // the target before its first "?", undecoded
  // Every request header as sent (name, value), in the order received.
  std::vector<std::pair<std::string, std::string>> Headers = {};

  // The value of the first header of that name (ASCII case ignored); empty
  // when there is none.
  std::string Header(std::string_view name) const;
};

// What the handler sets.
struct HttpServerReply {
  std::string content_type = "text/html";
  std::string body;
  unsigned status = 200;
  // Further reply headers (WWW-Authenticate, Retry-After, ...). The server
  // sets Content-Type, Content-Length and Connection itself.
  std::vector<std::pair<std::string, std::string>> headers = {};
};

// Runs on the connection's thread, possibly on many threads at once. An
// exception that leaves it becomes status 500 with the exception's message
// (its "&", "<" and ">" escaped) as the whole body, "text/html".
using HttpHandler = std::function<void(const HttpServerRequest&, HttpServerReply&)>;

struct HttpServerOptions {
  // 0 lets the system pick one; port() tells which.
  uint16_t port = 0;
  // The local address to listen on (IPv4 or IPv6 text). Empty: every local
  // address, IPv6 and IPv4 (IPv4 alone where the system has no IPv6), or
  // 127.0.0.1 only with loopback_only.
  std::string address;
  bool loopback_only = false;
  // PEM texts; both set: the port speaks HTTPS only, through the HTTP
  // library's TLS (Linux).
  std::string tls_certificate_pem;
  std::string tls_key_pem;
  // Or a certificate that the system's own TLS serves (Windows): the port
  // speaks HTTPS only, through the TLS front (platform/net/tls_front.h),
  // whose handshake must end within head_timeout as the head must, and
  // whose connections count against the limits while it runs.
  TlsCertificateSource tls_certificate = {};
  unsigned connection_limit = 64;
  unsigned per_client_limit = 8;  // connections from one address
  std::chrono::milliseconds head_timeout{5000};
  std::chrono::seconds retry_after{5};  // told to clients refused with 503
  // The body of that 503 and its content type; empty: a plain-text one.
  std::string busy_body;
  std::string busy_content_type;
  std::chrono::seconds idle_timeout{10};
  std::chrono::seconds request_deadline{30};
  size_t max_body_bytes = 1u << 20;            // 1 MiB
  size_t header_memory_bytes = 32u << 10;      // request line and headers
  // How long Stop lets requests whose handler has started finish and send
  // their replies (an /update that triggered the very stop, say).
  std::chrono::milliseconds stop_grace{5000};
  // The methods handed to the handler, upper case; any other gets 405.
  std::vector<std::string> methods{"GET", "POST", "HEAD"};
  // Where connections refused at the door are counted; null: nowhere.
  AgentMetrics* metrics = nullptr;
  // Requests whose request line in_lane picks share lane_limit places of
  // their own besides (see GateOptions); unset: no lane.
  std::function<bool(std::string_view request_line)> in_lane;
  unsigned lane_limit = 0;
};

// REQUIRES: Start and Stop are called from one thread at a time.
class HttpServer {
 public:
  explicit HttpServer(HttpHandler handler);
  ~HttpServer();  // Stops the server.
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts listening. Returns false with the reason in *error (for example
  // "bind to port 88: Address already in use") when it cannot; a server that
  // is running already is stopped first.
  bool Start(const HttpServerOptions& options, std::string* error);
  // Closes the listener, lets the requests whose handler has started finish
  // and send their replies for at most stop_grace, then cuts off every
  // connection that is left and waits for their threads. Does nothing when
  // not running.
  void Stop();

  bool running() const;
  // The port listened on; 0 when not running.
  uint16_t port() const;

  // Callbacks of the server; defined with it.
  class Impl;

 private:
  HttpHandler handler_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quarrin

#endif  // QUARRIN_HTTP_HTTP_SERVER_H_
