#include "http/connection_gate.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "http/raw_reply.h"
#include "http/request_head.h"

namespace quarrin {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Connections taken from the listener in one go, so that the waiting ones
// are looked at between bursts.
constexpr int kAcceptBatch = 64;

// How many bytes must be waiting before poll calls the socket readable (an
// end of stream always counts).
void SetLowWaterMark(int fd, int bytes) {
  setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
}

}  // namespace

std::string ClientKey(const sockaddr* peer) {
  if (peer->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(peer);
    return std::string(reinterpret_cast<const char*>(&in->sin_addr), sizeof in->sin_addr);
  }
  if (peer->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(peer);
    const auto* bytes = reinterpret_cast<const char*>(&in6->sin6_addr);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) return std::string(bytes + 12, 4);
    return std::string(bytes, sizeof in6->sin6_addr);
  }
  return std::string();
}

ConnectionGate::ConnectionGate(const GateOptions& options, Handover handover)
    : options_(options), handover_(std::move(handover)) {}

ConnectionGate::~ConnectionGate() { Stop(); }

bool ConnectionGate::Start(int listener, std::string* error) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = std::string("wake-up pipe of the HTTP server: ") + std::strerror(errno);
    return false;
  }
  listener_ = listener;
  thread_ = std::thread(&ConnectionGate::Run, this);
  return true;
}

void ConnectionGate::Stop() {
  if (!thread_.joinable()) return;
  const char stop = 's';
  (void)!write(wake_[1], &stop, 1);
  thread_.join();
  for (Waiting& w : waiting_) {
    close(w.fd);
    Release(w.client);
  }
  waiting_.clear();
  close(wake_[0]);
  close(wake_[1]);
  wake_[0] = wake_[1] = -1;
}

void ConnectionGate::Release(const std::string& client) {
  std::lock_guard lock(mu_);
  if (total_ > 0) --total_;
  auto it = per_client_.find(client);
  if (it != per_client_.end() && --it->second == 0) per_client_.erase(it);
}

void ConnectionGate::Run() {
  std::vector<pollfd> polled;
  for (;;) {
    const SteadyClock::time_point now = SteadyClock::now();
    polled.clear();
    polled.push_back({wake_[0], POLLIN, 0});
    const bool accepting = now >= accept_paused_until_;
    polled.push_back({accepting ? listener_ : -1, POLLIN, 0});
    SteadyClock::time_point next = accepting ? SteadyClock::time_point::max() : accept_paused_until_;
    for (const Waiting& w : waiting_) {
      polled.push_back({w.fd, POLLIN | POLLRDHUP, 0});
      next = std::min(next, w.deadline);
    }
    int timeout = -1;
    if (next != SteadyClock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<int64_t>(wait, 0, 60000));
    }
    if (poll(polled.data(), polled.size(), timeout) < 0) {
      // Out of memory for a moment, say: the gate must not end for it.
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (polled[0].revents != 0) return;

    const SteadyClock::time_point then = SteadyClock::now();
    std::vector<Waiting> still;
    for (size_t i = 0; i < waiting_.size(); ++i) {
      Waiting& w = waiting_[i];
      const short events = polled[i + 2].revents;
      Verdict verdict = Verdict::kWait;
      if (events != 0) verdict = Examine(w, (events & (POLLRDHUP | POLLHUP | POLLERR)) != 0);
      if (verdict == Verdict::kWait && w.deadline <= then) {
        Refuse(w, PlainReply(408, "Request Timeout",
                             "Request Timeout: the request head did not arrive in time"));
        verdict = Verdict::kClosed;
      }
      if (verdict == Verdict::kWait) still.push_back(std::move(w));
    }
    waiting_ = std::move(still);
    if (polled[1].revents != 0) AcceptSome(then);
  }
}

void ConnectionGate::AcceptSome(SteadyClock::time_point now) {
  for (int i = 0; i < kAcceptBatch; ++i) {
    Waiting w{};
    w.peer_length = sizeof w.peer;
    w.fd = accept4(listener_, reinterpret_cast<sockaddr*>(&w.peer), &w.peer_length,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (w.fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of descriptors: the listener would stay readable and the loop
      // spin; the queued clients wait a moment instead.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        accept_paused_until_ = now + std::chrono::milliseconds(100);
      }
      return;
    }
    w.client = ClientKey(reinterpret_cast<const sockaddr*>(&w.peer));
    bool admitted = false;
    {
      std::lock_guard lock(mu_);
      unsigned& mine = per_client_[w.client];
      if (total_ < options_.connection_limit && mine < options_.per_client_limit) {
        ++total_;
        ++mine;
        admitted = true;
      } else if (mine == 0) {
        per_client_.erase(w.client);
      }
    }
    if (!admitted) {
      WriteFinalReply(w.fd, PlainReply(503, "Service Unavailable",
                                       "Service Unavailable: too many connections, try again later",
                                       "Retry-After: " +
                                           std::to_string(options_.retry_after.count()) + "\r\n"));
      close(w.fd);
      continue;
    }
    if (!options_.inspect_head) {
      handover_({w.fd, w.peer, w.peer_length, std::string(), w.client});
      continue;
    }
    w.deadline = now + options_.head_timeout;
    waiting_.push_back(std::move(w));
  }
}

ConnectionGate::Verdict ConnectionGate::Examine(Waiting& w, bool peer_closed) {
  peeked_.resize(options_.head_limit);
  const ssize_t n = recv(w.fd, peeked_.data(), peeked_.size(), MSG_PEEK | MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return Verdict::kWait;
  if (n < 0) {
    close(w.fd);
    Release(w.client);
    return Verdict::kClosed;
  }
  const std::string_view received(peeked_.data(), static_cast<size_t>(n));
  const RequestHead head = ExamineRequestHead(received, peeked_.size());
  switch (head.state) {
    case HeadState::kComplete:
    case HeadState::kTooLong:  // the library answers that it is too long
      SetLowWaterMark(w.fd, 1);
      handover_({w.fd, w.peer, w.peer_length, head.request_line, w.client});
      return Verdict::kHandOver;
    case HeadState::kNotHttp:
      Refuse(w, PlainReply(400, "Bad Request", "Bad Request: the request line is not HTTP"));
      return Verdict::kClosed;
    case HeadState::kIncomplete:
      break;
  }
  if (!peer_closed && n > 0) {
    // The bytes stay in the socket, so the socket would stay readable: it
    // is to wake the loop again only when more than these have arrived.
    SetLowWaterMark(w.fd, static_cast<int>(n) + 1);
    return Verdict::kWait;
  }
  Refuse(w, PlainReply(400, "Bad Request",
                       received.find_first_not_of("\r\n") == std::string_view::npos
                           ? "Bad Request: empty request"
                           : "Bad Request: the request ended before its head was complete"));
  return Verdict::kClosed;
}

void ConnectionGate::Refuse(Waiting& w, const std::string& reply) {
  WriteFinalReply(w.fd, reply);
  close(w.fd);
  Release(w.client);
}

}  // namespace quarrin
