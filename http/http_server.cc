#include "http/http_server.h"

#include <microhttpd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <list>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "http/connection_gate.h"
#include "http/raw_reply.h"
#include "platform/text/ascii.h"
#include "platform/net/tcp_socket.h"

namespace quarrin {

namespace {

using SteadyClock = std::chrono::steady_clock;

// One connection as the deadline watchdog sees it.
struct ConnectionWatch {
  TcpSocket socket = kNoTcpSocket;
  bool armed = true;  // false while the handler runs
  bool answering = false;  // the handler has started; set until closed
  SteadyClock::time_point deadline;
  std::list<ConnectionWatch>::iterator self;
  std::string request_line;  // as the client sent it
  std::string client;        // what the gate counts it under
  bool in_lane = false;      // it holds a place of the gate's lane too
  bool released = false;     // its place at the gate given back
};

// What a connection's start left for it; null for none.
ConnectionWatch* WatchOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr : static_cast<ConnectionWatch*>(info->socket_context);
}

// The request line as the client sent it. It is written before the
// connection's thread starts and never changes.
std::string RequestLine(MHD_Connection* connection) {
  const ConnectionWatch* watch = WatchOf(connection);
  return watch == nullptr ? std::string() : watch->request_line;
}

// One request while it arrives.
struct RequestState {
  std::string target;  // as sent, undecoded
  std::string body;
  bool headers_seen = false;
};

std::string EscapeForHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::optional<IpAddress> ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return info == nullptr ? std::nullopt : IpAddressOf(info->client_addr);
}

// The listener's address: the one named, or none for every address, or
// 127.0.0.1. False when the one named is no address.
bool ListenAddress(const HttpServerOptions& options, std::optional<IpAddress>* address) {
  *address = std::nullopt;
  if (!options.address.empty()) {
    *address = ParseIpAddress(options.address);
    return address->has_value();
  }
  if (options.loopback_only) *address = ParseIpAddress("127.0.0.1");
  return true;
}

std::string HeaderValue(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

// The declared body length; false when the header is absent or not a number.
bool DeclaredLength(MHD_Connection* connection, uint64_t* length) {
  const char* value =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (value == nullptr || *value == '\0') return false;
  uint64_t n = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    if (n > (UINT64_MAX - 9) / 10) return false;
    n = n * 10 + static_cast<uint64_t>(*p - '0');
  }
  *length = n;
  return true;
}

// Every value of a request header, in the order sent.
std::vector<std::string> HeaderValues(MHD_Connection* connection, const char* name) {
  struct Wanted {
    const char* name;
    std::vector<std::string> values;
  } wanted{name, {}};
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        auto* w = static_cast<Wanted*>(cls);
        if (key != nullptr && EqualsIgnoringAsciiCase(key, w->name)) {
          w->values.emplace_back(value ? value : "");
        }
        return MHD_YES;
      },
      &wanted);
  return wanted.values;
}

// Why the head cannot be served as it stands, as a status and its text; 0
// when it can. The library reads a body by the first Content-Length alone
// and one of an unknown coding to the end of the connection.
unsigned HeadProblem(MHD_Connection* connection, std::string* text) {
  for (const std::string& coding : HeaderValues(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING)) {
    if (!EqualsIgnoringAsciiCase(coding, "chunked")) {
      *text = "Not Implemented: transfer coding \"" + coding + "\"";
      return MHD_HTTP_NOT_IMPLEMENTED;
    }
  }
  const std::vector<std::string> lengths =
      HeaderValues(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
  for (const std::string& length : lengths) {
    if (length != lengths.front()) {
      *text = "Bad Request: different Content-Length headers";
      return MHD_HTTP_BAD_REQUEST;
    }
  }
  return 0;
}

// Every request header, in the order received.
std::vector<std::pair<std::string, std::string>> AllHeaders(MHD_Connection* connection) {
  std::vector<std::pair<std::string, std::string>> headers;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        static_cast<std::vector<std::pair<std::string, std::string>>*>(cls)->emplace_back(
            key ? key : "", value ? value : "");
        return MHD_YES;
      },
      &headers);
  return headers;
}

using ReplyHeaders = std::vector<std::pair<std::string, std::string>>;

// A header the handler may not set: the server writes these itself.
bool ServerOwnedHeader(std::string_view name) {
  return EqualsIgnoringAsciiCase(name, MHD_HTTP_HEADER_CONTENT_TYPE) ||
         EqualsIgnoringAsciiCase(name, MHD_HTTP_HEADER_CONTENT_LENGTH) ||
         EqualsIgnoringAsciiCase(name, MHD_HTTP_HEADER_CONNECTION) ||
         EqualsIgnoringAsciiCase(name, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& content_type,
                 const std::string& body, const char* allow = nullptr,
                 const ReplyHeaders& extra = {}) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                      MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
  for (const auto& [name, value] : extra) {
    if (ServerOwnedHeader(name)) continue;
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result QueuePlain(MHD_Connection* connection, unsigned status, const std::string& text,
                      const char* allow = nullptr) {
  return Queue(connection, status, "text/plain", text + "\r\n", allow);
}

// "GET, POST, HEAD" for the Allow header, "GET, POST and HEAD" for people.
std::string JoinMethods(const std::vector<std::string>& methods, bool for_people) {
  std::string out;
  for (size_t i = 0; i < methods.size(); ++i) {
    if (i > 0) out += for_people && i + 1 == methods.size() ? " and " : ", ";
    out += methods[i];
  }
  return out;
}

}  // namespace

class HttpServer::Impl {
 public:
  Impl(const HttpHandler& handler, const HttpServerOptions& options)
      : handler_(handler), options_(options) {}

  bool Start(std::string* error);
  void Stop();
  uint16_t port() const { return port_; }

 private:
  // libmicrohttpd callbacks.
  static void* OnUri(void* cls, const char* uri, MHD_Connection* connection);
  static void OnCompleted(void* cls, MHD_Connection* connection, void** request_state,
                          MHD_RequestTerminationCode reason);
  static void OnConnection(void* cls, MHD_Connection* connection, void** socket_context,
                           MHD_ConnectionNotificationCode code);
  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                              const char* method, const char* version, const char* upload_data,
                              size_t* upload_size, void** request_state);

  MHD_Result Answer(MHD_Connection* connection, const char* method, const char* version,
                    RequestState* state);
  // Disarms (while the handler runs) or re-arms a connection's deadline.
  void SetDeadline(MHD_Connection* connection, bool armed);
  // Gives the connection's place at the gate back, once. Under mu_.
  void ReleasePlace(ConnectionWatch& watch) {
    if (watch.released) return;
    watch.released = true;
    gate_->Release(watch.client, watch.in_lane);
  }
  void Watchdog();
  // Gives the library a connection whose head has arrived.
  void HandOver(AdmittedConnection admitted);
  // Gives a connection to the TLS front, whose plain text goes back to the
  // gate.
  void Unwrap(AdmittedConnection admitted);
  // A body that has grown past max_body_bytes: told so, and cut off.
  MHD_Result CutOff(MHD_Connection* connection);

  const HttpHandler& handler_;
  const HttpServerOptions options_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;

  std::mutex mu_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<ConnectionWatch> watches_;
  int answering_ = 0;  // connections whose handler has started
  std::condition_variable drained_;
  std::thread watchdog_;
  bool watchdog_asleep_ = false;  // until a connection wakes it
  // Connections handed to the library whose start it has not yet told, by
  // descriptor.
  std::unordered_map<TcpSocket, AdmittedConnection> handed_;
  TcpSocket listener_ = kNoTcpSocket;
  std::unique_ptr<TlsFront> tls_front_;
  std::unique_ptr<ConnectionGate> gate_;
};

bool HttpServer::Impl::Start(std::string* error) {
  const std::string port_text = "port " + std::to_string(options_.port);
  std::optional<IpAddress> address;
  if (!ListenAddress(options_, &address)) {
    if (error) *error = "HTTPAddress '" + options_.address + "' is not an IPv4 or IPv6 address";
    return false;
  }
  // The listener is made here so that a failure says why. Its backlog is
  // deep enough that a burst of connections (thousands of agents after a
  // mass restart; the gate refuses those past its places at once) does not
  // make the system drop handshakes, which clients send again only a
  // second or more later. The system caps it (somaxconn).
  uint16_t bound_port = 0;
  const TcpSocket fd = OpenTcpListener(address, options_.port, 8192, &bound_port, error);
  if (fd == kNoTcpSocket) return false;
  const bool tls = !options_.tls_certificate_pem.empty() && !options_.tls_key_pem.empty();
  if (tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
    // A library built without TLS (the Windows build's).
    CloseTcp(fd);
    if (error) {
      *error = "HTTPS on " + port_text +
               " from PEM files is not supported by this build (a certificate from the "
               "machine's store or a PFX file is)";
    }
    return false;
  }
  if (!options_.tls_certificate.empty()) {
    std::string reason;
    if (tls) {
      reason = "PEM files and a certificate of the system's TLS both set";
    } else {
      tls_front_ = TlsFront::Open(options_.tls_certificate, &reason);
    }
    if (tls_front_ == nullptr) {
      CloseTcp(fd);
      if (error) *error = "HTTPS on " + port_text + ": " + reason;
      return false;
    }
  }
  // Options that only some servers have; the daemon copies the texts.
  MHD_OptionItem tls_options[] = {
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options_.tls_key_pem.c_str())},
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.tls_certificate_pem.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };

  stopping_ = false;
  daemon_ = MHD_start_daemon(
      // The gate accepts; ITC lets the library take the connections it adds.
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
          MHD_USE_ITC | MHD_USE_NO_LISTEN_SOCKET | (tls ? MHD_USE_TLS : 0),
      0, nullptr,
      nullptr, &Impl::OnRequest, this,
      // The gate keeps the limit; the library counts a closed connection a
      // little longer, until its thread is cleaned up, and must not refuse
      // one the gate has let in.
      MHD_OPTION_CONNECTION_LIMIT, 2 * options_.connection_limit + 16,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(options_.idle_timeout.count()),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, options_.header_memory_bytes,
      MHD_OPTION_URI_LOG_CALLBACK, &Impl::OnUri, this,
      MHD_OPTION_NOTIFY_COMPLETED, &Impl::OnCompleted, this,
      MHD_OPTION_NOTIFY_CONNECTION, &Impl::OnConnection, this,
      MHD_OPTION_ARRAY, tls ? tls_options : tls_options + 2,
      MHD_OPTION_END);
  if (daemon_ == nullptr) {
    CloseTcp(fd);
    tls_front_.reset();
    if (error) {
      *error = "starting the HTTP daemon on " + port_text + " failed" +
               (tls ? " (is the certificate or key not PEM, or not a pair?)" : "");
    }
    return false;
  }
  GateOptions gate;
  gate.connection_limit = options_.connection_limit;
  gate.per_client_limit = options_.per_client_limit;
  gate.head_timeout = options_.head_timeout;
  gate.head_limit = options_.header_memory_bytes;
  gate.retry_after = options_.retry_after;
  gate.busy_body = options_.busy_body;
  gate.busy_content_type = options_.busy_content_type;
  // A TLS head cannot be read before the library decrypts it: such
  // connections are handed over at once, and the library's time-outs hold.
  gate.inspect_head = !tls;
  gate.metrics = options_.metrics;
  gate.in_lane = options_.in_lane;
  gate.lane_limit = options_.lane_limit;
  ConnectionGate::Handover unwrap;
  if (tls_front_ != nullptr) {
    unwrap = [this](AdmittedConnection admitted) { Unwrap(std::move(admitted)); };
  }
  gate_ = std::make_unique<ConnectionGate>(
      gate, [this](AdmittedConnection admitted) { HandOver(std::move(admitted)); },
      std::move(unwrap));
  if (!gate_->Start(fd, error)) {
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    tls_front_.reset();
    CloseTcp(fd);
    return false;
  }
  listener_ = fd;
  port_ = bound_port;
  watchdog_ = std::thread(&Impl::Watchdog, this);
  return true;
}

void HttpServer::Impl::Stop() {
  if (daemon_ == nullptr) return;
  // No new connections.
  gate_->Stop();
  CloseTcp(listener_);
  listener_ = kNoTcpSocket;
  {
    std::unique_lock lock(mu_);
    drained_.wait_for(lock, options_.stop_grace, [this] { return answering_ == 0; });
  }
  // Closes every connection left and joins their threads.
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  // Before the gate, to which it hands what it still holds.
  tls_front_.reset();
  gate_.reset();
  port_ = 0;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  watchdog_.join();
}

void HttpServer::Impl::Watchdog() {
  std::unique_lock lock(mu_);
  bool quiet = false;  // no connection when it last went to sleep
  while (!stopping_) {
    const SteadyClock::time_point now = SteadyClock::now();
    SteadyClock::time_point next = now + options_.request_deadline;
    for (ConnectionWatch& watch : watches_) {
      if (!watch.armed) continue;
      if (watch.deadline <= now) {
        // The connection's thread sees the end of the stream and closes it
        // itself; the descriptor stays valid until OnConnection has removed
        // the watch, which it cannot do while we hold the lock.
        ShutdownTcp(watch.socket);
        watch.armed = false;
      } else if (watch.deadline < next) {
        next = watch.deadline;
      }
    }
    // A deadline set later lies at least request_deadline ahead, so no
    // wake-up is needed for it. Without connections for a whole deadline it
    // sleeps until one arrives; waiting that deadline first spares a client
    // asking one request after another a wake-up for each.
    if (watches_.empty() && quiet) {
      watchdog_asleep_ = true;
      wake_.wait(lock);
      watchdog_asleep_ = false;
      quiet = false;
    } else {
      quiet = watches_.empty();
      wake_.wait_until(lock, next);
    }
  }
}

void HttpServer::Impl::SetDeadline(MHD_Connection* connection, bool armed) {
  ConnectionWatch* watch = WatchOf(connection);
  if (watch == nullptr) return;
  std::lock_guard lock(mu_);
  if (!armed && !watch->answering) {
    watch->answering = true;
    ++answering_;
  }
  watch->armed = armed;
  watch->deadline = SteadyClock::now() + options_.request_deadline;
}

void HttpServer::Impl::OnConnection(void* cls, MHD_Connection* connection, void** socket_context,
                                    MHD_ConnectionNotificationCode code) {
  auto* self = static_cast<Impl*>(cls);
  std::lock_guard lock(self->mu_);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return;
    if (self->watchdog_asleep_) self->wake_.notify_all();
    ConnectionWatch& watch = self->watches_.emplace_back();
    watch.socket = static_cast<TcpSocket>(info->connect_fd);
    watch.deadline = SteadyClock::now() + self->options_.request_deadline;
    watch.self = std::prev(self->watches_.end());
    auto handed = self->handed_.find(watch.socket);
    if (handed != self->handed_.end()) {
      watch.request_line = std::move(handed->second.request_line);
      watch.client = std::move(handed->second.client);
      watch.in_lane = handed->second.in_lane;
      self->handed_.erase(handed);
    }
    *socket_context = &watch;
  } else if (code == MHD_CONNECTION_NOTIFY_CLOSED && *socket_context != nullptr) {
    auto* watch = static_cast<ConnectionWatch*>(*socket_context);
    if (watch->answering && --self->answering_ == 0) self->drained_.notify_all();
    self->ReleasePlace(*watch);
    self->watches_.erase(watch->self);
    *socket_context = nullptr;
  }
}

void HttpServer::Impl::HandOver(AdmittedConnection admitted) {
  const TcpSocket fd = admitted.socket;
  const TcpPeer peer = admitted.peer;
  const std::string client = admitted.client;
  const bool in_lane = admitted.in_lane;
  {
    std::lock_guard lock(mu_);
    // A descriptor left here by a connection the library dropped before it
    // started (out of memory) is simply replaced; that connection's place
    // at the gate stays taken, which only such a failure can cause.
    handed_.insert_or_assign(fd, std::move(admitted));
  }
  if (MHD_add_connection(daemon_, static_cast<MHD_socket>(fd), peer.address(),
                         static_cast<socklen_t>(peer.length)) != MHD_YES) {
    // The library has closed it.
    {
      std::lock_guard lock(mu_);
      handed_.erase(fd);
    }
    gate_->Release(client, in_lane);
  }
}

void HttpServer::Impl::Unwrap(AdmittedConnection admitted) {
  const TcpSocket socket = admitted.socket;
  const SteadyClock::time_point deadline = admitted.head_deadline;
  tls_front_->Add(socket, deadline, [this, admitted](TcpSocket plaintext) mutable {
    if (plaintext == kNoTcpSocket) {
      gate_->Release(admitted.client);
      return;
    }
    // The library gets the plain text with the client's own address.
    admitted.socket = plaintext;
    gate_->Adopt(std::move(admitted));
  });
}

MHD_Result HttpServer::Impl::CutOff(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  // The library has sent nothing yet but perhaps "100 Continue", and a
  // final reply may follow that; it closes the connection when told MHD_NO.
  if (info != nullptr) {
    SendFinalTcp(static_cast<TcpSocket>(info->connect_fd),
                    PlainReply(MHD_HTTP_CONTENT_TOO_LARGE, "Payload Too Large",
                               "Payload Too Large: the body may have at most " +
                                   std::to_string(options_.max_body_bytes) + " bytes"));
  }
  return MHD_NO;
}

void* HttpServer::Impl::OnUri(void* /*cls*/, const char* uri, MHD_Connection* /*connection*/) {
  auto* state = new RequestState;
  state->target = uri ? uri : "";
  return state;
}

void HttpServer::Impl::OnCompleted(void* cls, MHD_Connection* connection, void** request_state,
                                   MHD_RequestTerminationCode /*reason*/) {
  delete static_cast<RequestState*>(*request_state);
  *request_state = nullptr;
  // Every reply closes its connection, so the exchange is over and the
  // client's place at the gate is free now. The library says that the
  // connection has closed only after its thread has been joined, which on
  // a busy machine comes late enough for a client that asks one request
  // after the other to find all its places taken.
  auto* self = static_cast<Impl*>(cls);
  if (ConnectionWatch* watch = WatchOf(connection)) {
    std::lock_guard lock(self->mu_);
    self->ReleasePlace(*watch);
  }
}

MHD_Result HttpServer::Impl::OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                       const char* method, const char* version,
                                       const char* upload_data, size_t* upload_size,
                                       void** request_state) {
  auto* self = static_cast<Impl*>(cls);
  auto* state = static_cast<RequestState*>(*request_state);
  if (state == nullptr) {
    state = new RequestState;
    state->target = url ? url : "";
    *request_state = state;
  }
  if (!state->headers_seen) {
    state->headers_seen = true;
    const std::vector<std::string>& methods = self->options_.methods;
    if (std::find(methods.begin(), methods.end(), std::string_view(method)) == methods.end()) {
      return QueuePlain(connection, MHD_HTTP_METHOD_NOT_ALLOWED,
                        "Method Not Allowed: only " + JoinMethods(methods, true) + " are served",
                        JoinMethods(methods, false).c_str());
    }
    std::string problem;
    if (const unsigned status = HeadProblem(connection, &problem); status != 0) {
      return QueuePlain(connection, status, problem);
    }
    uint64_t declared = 0;
    if (DeclaredLength(connection, &declared) && declared > self->options_.max_body_bytes) {
      return QueuePlain(connection, MHD_HTTP_CONTENT_TOO_LARGE,
                        "Payload Too Large: the body may have at most " +
                            std::to_string(self->options_.max_body_bytes) + " bytes");
    }
    return MHD_YES;
  }
  if (*upload_size != 0) {
    // A body without a declared length (chunked) that outgrows the limit
    // is not read on.
    if (state->body.size() + *upload_size > self->options_.max_body_bytes) {
      return self->CutOff(connection);
    }
    state->body.append(upload_data, *upload_size);
    *upload_size = 0;
    return MHD_YES;
  }
  return self->Answer(connection, method, version, state);
}

MHD_Result HttpServer::Impl::Answer(MHD_Connection* connection, const char* method,
                                    const char* version, RequestState* state) {
  HttpServerRequest request;
  request.Command = method;
  request.RawHTTPCommand = RequestLine(connection);
  if (request.RawHTTPCommand.empty()) {
    // A head too long for the gate to wait for, which the library refuses
    // before this, or one that came over TLS, comes without its line.
    request.RawHTTPCommand = request.Command + " " + state->target + " " + version;
  }
  request.RemoteAddress = ClientAddress(connection);
  if (request.RemoteAddress) request.RemoteIP = request.RemoteAddress->Text();
  const size_t q = state->target.find('?');
  if (q != std::string::npos) request.QueryParams = state->target.substr(q + 1);
  request.Path = state->target.substr(0, q);
  request.Headers = AllHeaders(connection);
  request.FormParams = std::move(state->body);
  if (!request.FormParams.empty() && !request.QueryParams.empty()) {
    request.UnparsedParams = request.FormParams + "\r\n" + request.QueryParams;
  } else {
    request.UnparsedParams = request.FormParams.empty() ? request.QueryParams : request.FormParams;
  }
  request.From = HeaderValue(connection, "From");
  request.Accept = HeaderValue(connection, MHD_HTTP_HEADER_ACCEPT);

  SetDeadline(connection, false);
  HttpServerReply reply;
  unsigned status = MHD_HTTP_OK;
  try {
    handler_(request, reply);
    status = reply.status;
  } catch (const std::exception& e) {
    status = MHD_HTTP_INTERNAL_SERVER_ERROR;
    reply.headers.clear();
    reply.content_type = "text/html";
    reply.body = EscapeForHtml(e.what());
  } catch (...) {
    status = MHD_HTTP_INTERNAL_SERVER_ERROR;
    reply.headers.clear();
    reply.content_type = "text/html";
    reply.body = "unknown error";
  }
  // The client now has request_deadline to take the reply.
  SetDeadline(connection, true);
  return Queue(connection, status, reply.content_type, reply.body, nullptr, reply.headers);
}

std::string HttpServerRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : Headers) {
    if (EqualsIgnoringAsciiCase(key, name)) return value;
  }
  return "";
}

HttpServer::HttpServer(HttpHandler handler) : handler_(std::move(handler)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const HttpServerOptions& options, std::string* error) {
  Stop();
  auto impl = std::make_unique<Impl>(handler_, options);
  if (!impl->Start(error)) return false;
  impl_ = std::move(impl);
  return true;
}

void HttpServer::Stop() {
  if (impl_ == nullptr) return;
  impl_->Stop();
  impl_.reset();
}

bool HttpServer::running() const { return impl_ != nullptr; }

uint16_t HttpServer::port() const { return impl_ ? impl_->port() : 0; }

}  // namespace quarrin
