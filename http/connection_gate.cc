#include "http/connection_gate.h"

#include <algorithm>

#include "http/raw_reply.h"
#include "http/request_head.h"

namespace quarrin {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Connections taken from the listener in one go, so that the waiting ones
// are looked at between bursts.
constexpr int kAcceptBatch = 64;

// How long a connection whose partial head stays readable (the system
// cannot be told to wake the gate only for more) waits before another look.
constexpr std::chrono::milliseconds kLookAgain{20};

}  // namespace

std::string ClientKey(const IpAddress& peer) {
  const auto* bytes = reinterpret_cast<const char*>(peer.bytes.data());
  if (peer.IsIPv4()) return std::string(bytes + 12, 4);
  return std::string(bytes, peer.bytes.size());
}

ConnectionGate::ConnectionGate(const GateOptions& options, Handover handover, Handover unwrap)
    : options_(options), handover_(std::move(handover)), unwrap_(std::move(unwrap)) {}

std::string ConnectionGate::BusyReply() const {
  const std::string retry = "Retry-After: " + std::to_string(options_.retry_after.count()) + "\r\n";
  return options_.busy_body.empty()
             ? PlainReply(503, "Service Unavailable",
                          "Service Unavailable: too many connections, try again later", retry)
             : RawReply(503, "Service Unavailable", options_.busy_content_type, options_.busy_body,
                        retry);
}

ConnectionGate::~ConnectionGate() { Stop(); }

bool ConnectionGate::Start(TcpSocket listener, std::string* error) {
  std::string reason;
  if (!wake_.Open(&reason)) {
    if (error) *error = "HTTP server: " + reason;
    return false;
  }
  listener_ = listener;
  thread_ = std::thread(&ConnectionGate::Run, this);
  return true;
}

void ConnectionGate::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.Signal();
  thread_.join();
  for (Waiting& w : waiting_) {
    CloseTcp(w.socket);
    Release(w.client);
  }
  waiting_.clear();
  std::vector<AdmittedConnection> adopted;
  {
    std::lock_guard lock(mu_);
    adopted.swap(adopted_);
  }
  for (AdmittedConnection& a : adopted) {
    CloseTcp(a.socket);
    Release(a.client);
  }
  wake_.Close();
}

void ConnectionGate::Adopt(AdmittedConnection connection) {
  {
    std::lock_guard lock(mu_);
    if (!stopping_) {
      adopted_.push_back(std::move(connection));
      wake_.Signal();
      return;
    }
  }
  CloseTcp(connection.socket);
  Release(connection.client);
}

void ConnectionGate::Release(const std::string& client, bool in_lane) {
  std::lock_guard lock(mu_);
  if (total_ > 0) --total_;
  if (in_lane && in_lane_ > 0) --in_lane_;
  auto it = per_client_.find(client);
  if (it != per_client_.end() && --it->second == 0) per_client_.erase(it);
}

void ConnectionGate::Run() {
  std::vector<TcpWaitEntry> polled;
  for (;;) {
    const SteadyClock::time_point now = SteadyClock::now();
    polled.clear();
    polled.push_back({wake_.socket()});
    const bool accepting = now >= accept_paused_until_;
    polled.push_back({accepting ? listener_ : kNoTcpSocket});
    SteadyClock::time_point next = accepting ? SteadyClock::time_point::max() : accept_paused_until_;
    for (const Waiting& w : waiting_) {
      const bool resting = w.look_again > now;
      polled.push_back({resting ? kNoTcpSocket : w.socket});
      next = std::min(next, resting ? std::min(w.deadline, w.look_again) : w.deadline);
    }
    int timeout = -1;
    if (next != SteadyClock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<int64_t>(wait, 0, 60000));
    }
    if (WaitForTcp(polled, timeout) < 0) {
      // Out of memory for a moment, say: the gate must not end for it.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    std::vector<AdmittedConnection> adopted;
    if (polled[0].readable || polled[0].hung_up) {
      wake_.Clear();
      std::lock_guard lock(mu_);
      if (stopping_) return;
      adopted.swap(adopted_);
    }

    const SteadyClock::time_point then = SteadyClock::now();
    std::vector<Waiting> still;
    for (size_t i = 0; i < waiting_.size(); ++i) {
      Waiting& w = waiting_[i];
      const TcpWaitEntry& events = polled[i + 2];
      Verdict verdict = Verdict::kWait;
      if (events.readable || events.hung_up) verdict = Examine(w, events.hung_up);
      if (verdict == Verdict::kWait && w.deadline <= then) {
        Count(HttpRefusal::kTimeout);
        Refuse(w, PlainReply(408, "Request Timeout",
                             "Request Timeout: the request head did not arrive in time"));
        verdict = Verdict::kClosed;
      }
      if (verdict == Verdict::kWait) still.push_back(std::move(w));
    }
    waiting_ = std::move(still);
    for (AdmittedConnection& a : adopted) {
      Waiting w;
      w.socket = a.socket;
      w.peer = a.peer;
      w.client = std::move(a.client);
      w.deadline = a.head_deadline;
      waiting_.push_back(std::move(w));
    }
    if (polled[1].readable) AcceptSome(then);
  }
}

void ConnectionGate::AcceptSome(SteadyClock::time_point now) {
  for (int i = 0; i < kAcceptBatch; ++i) {
    Waiting w;
    const AcceptResult accepted = AcceptTcp(listener_, &w.socket, &w.peer);
    if (accepted == AcceptResult::kRetry) continue;
    if (accepted != AcceptResult::kAccepted) {
      // Out of descriptors: the listener would stay readable and the loop
      // spin; the queued clients wait a moment instead.
      if (accepted == AcceptResult::kOutOfResources) {
        accept_paused_until_ = now + std::chrono::milliseconds(100);
      }
      return;
    }
    w.client = ClientKey(w.peer.ip);
    bool admitted = false;
    HttpRefusal refusal = HttpRefusal::kConnectionLimit;
    {
      std::lock_guard lock(mu_);
      unsigned& mine = per_client_[w.client];
      if (total_ < options_.connection_limit && mine < options_.per_client_limit) {
        ++total_;
        ++mine;
        admitted = true;
      } else if (mine == 0) {
        per_client_.erase(w.client);
      } else if (mine >= options_.per_client_limit) {
        refusal = HttpRefusal::kPerClientLimit;
      }
    }
    if (!admitted) {
      Count(refusal);
      SendFinalTcp(w.socket, BusyReply());
      CloseTcp(w.socket);
      continue;
    }
    w.deadline = now + options_.head_timeout;
    if (unwrap_) {
      unwrap_({w.socket, w.peer, std::string(), w.client, w.deadline});
      continue;
    }
    if (!options_.inspect_head) {
      handover_({w.socket, w.peer, std::string(), w.client});
      continue;
    }
    waiting_.push_back(std::move(w));
  }
}

ConnectionGate::Verdict ConnectionGate::Examine(Waiting& w, bool peer_closed) {
  peeked_.resize(options_.head_limit);
  const std::ptrdiff_t n = PeekTcp(w.socket, peeked_.data(), peeked_.size());
  if (n == kTcpWouldBlock) return Verdict::kWait;
  if (n < 0) {
    CloseTcp(w.socket);
    Release(w.client);
    return Verdict::kClosed;
  }
  const std::string_view received(peeked_.data(), static_cast<size_t>(n));
  const RequestHead head = ExamineRequestHead(received, peeked_.size());
  switch (head.state) {
    case HeadState::kComplete:
    case HeadState::kTooLong: {  // the library answers that it is too long
      const bool in_lane = options_.in_lane && options_.in_lane(head.request_line);
      if (in_lane) {
        std::unique_lock lock(mu_);
        if (in_lane_ >= options_.lane_limit) {
          lock.unlock();
          Count(HttpRefusal::kConnectionLimit);
          Refuse(w, BusyReply());
          return Verdict::kClosed;
        }
        ++in_lane_;
      }
      if (w.threshold_raised) SetTcpReadableThreshold(w.socket, 1);
      handover_({w.socket, w.peer, head.request_line, w.client, {}, in_lane});
      return Verdict::kHandOver;
    }
    case HeadState::kNotHttp:
      Refuse(w, PlainReply(400, "Bad Request", "Bad Request: the request line is not HTTP"));
      return Verdict::kClosed;
    case HeadState::kIncomplete:
      break;
  }
  if (!peer_closed && n > 0) {
    // The bytes stay in the socket, so the socket would stay readable: it
    // is to wake the loop again only when more than these have arrived, or
    // where that cannot be said, after a pause.
    if (SetTcpReadableThreshold(w.socket, static_cast<int>(n) + 1)) {
      w.threshold_raised = true;
    } else {
      w.look_again = SteadyClock::now() + kLookAgain;
    }
    return Verdict::kWait;
  }
  Refuse(w, PlainReply(400, "Bad Request",
                       received.find_first_not_of("\r\n") == std::string_view::npos
                           ? "Bad Request: empty request"
                           : "Bad Request: the request ended before its head was complete"));
  return Verdict::kClosed;
}

void ConnectionGate::Count(HttpRefusal reason) {
  if (options_.metrics != nullptr) options_.metrics->CountHttpRefusal(reason);
}

void ConnectionGate::Refuse(Waiting& w, const std::string& reply) {
  SendFinalTcp(w.socket, reply);
  CloseTcp(w.socket);
  Release(w.client);
}

}  // namespace quarrin
