// The socket is plain POSIX: the fleet server runs on Linux only, and the
// platform layer's sockets are the agent's TCP ones.
#include "server/syslog_collector.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/files/file_io.h"
#include "platform/net/ip_address.h"
#include "server/machine_identity.h"
#include "server/server_log.h"
#include "server/syslog_message.h"

namespace quarrin {

namespace {

std::string UtcNowText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06lld+00", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long long>(micros));
  return text;
}

// The batch in one statement: each column an array. The machine is the one
// the datagram names as its host, else the one that last reported from the
// sender's address.
constexpr char kInsertEvents[] =
    "INSERT INTO events (received, sender, machine_id, facility, severity, code, message)"
    " SELECT e.received, e.sender::inet,"
    "  coalesce((SELECT m.id FROM machines m WHERE m.name_key = e.host),"
    "           (SELECT m.id FROM machines m WHERE m.last_address = e.sender::inet"
    "            ORDER BY m.last_seen DESC LIMIT 1)),"
    "  e.facility, e.severity, e.code, e.message"
    " FROM unnest($1::timestamptz[], $2::text[], $3::text[], $4::integer[], $5::integer[],"
    "             $6::text[], $7::text[])"
    "      AS e(received, sender, host, facility, severity, code, message)";

}  // namespace

SyslogCollector::~SyslogCollector() { Stop(); }

bool SyslogCollector::Start(std::string* error) {
  std::optional<IpAddress> address;
  if (!options_.address.empty()) {
    address = ParseIpAddress(options_.address);
    if (!address) {
      *error = "syslog: '" + options_.address + "' is not an address";
      return false;
    }
  }
  sockaddr_storage where{};
  const socklen_t length = static_cast<socklen_t>(SocketAddressOf(address, options_.port, &where));
  socket_ = socket(where.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    *error = ErrnoMessage("syslog socket", errno);
    return false;
  }
  if (where.ss_family == AF_INET6) {
    const int off = 0;  // IPv4 senders too
    setsockopt(socket_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  }
  // Room for a burst while the receiving thread is not scheduled.
  const int buffer = 4 << 20;
  setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  if (bind(socket_, reinterpret_cast<const sockaddr*>(&where), length) != 0) {
    *error = ErrnoMessage("bind syslog to UDP port " + std::to_string(options_.port), errno);
    close(socket_);
    socket_ = -1;
    return false;
  }
  sockaddr_storage bound{};
  socklen_t bound_length = sizeof bound;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &bound_length);
  port_ = PortOf(bound);
  stopping_ = false;
  receiving_done_ = false;
  receiver_ = std::thread([this] { Receive(); });
  writer_ = std::thread([this] { Write(); });
  return true;
}

void SyslogCollector::Stop() {
  if (socket_ < 0) return;
  stopping_ = true;
  if (receiver_.joinable()) receiver_.join();
  {
    std::lock_guard lock(mu_);
    receiving_done_ = true;
  }
  queued_.notify_all();
  if (writer_.joinable()) writer_.join();
  close(socket_);
  socket_ = -1;
}

SyslogCounters SyslogCollector::counters() const {
  return {received_.load(), stored_.load(), dropped_.load(), refused_.load()};
}

void SyslogCollector::Receive() {
  std::string buffer(65536, '\0');
  while (!stopping_) {
    pollfd p{socket_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    sockaddr_storage from{};
    socklen_t from_length = sizeof from;
    const ssize_t n = recvfrom(socket_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) continue;
    ++received_;
    if (static_cast<size_t>(n) > options_.max_datagram_bytes) {
      ++refused_;
      continue;
    }
    const std::optional<IpAddress> sender = IpAddressOf(reinterpret_cast<const sockaddr*>(&from));
    Datagram d{UtcNowText(), sender ? sender->Text() : "0.0.0.0",
               buffer.substr(0, static_cast<size_t>(n))};
    std::lock_guard lock(mu_);
    if (queue_.size() >= options_.queue_limit) {
      ++dropped_;
      continue;
    }
    queue_.push_back(std::move(d));
    queued_.notify_one();
  }
}

void SyslogCollector::Write() {
  const auto stop_deadline_after = std::chrono::seconds(5);
  std::optional<std::chrono::steady_clock::time_point> give_up;
  std::unique_lock lock(mu_);
  while (true) {
    queued_.wait(lock, [this] { return !queue_.empty() || receiving_done_; });
    if (queue_.empty()) return;
    if (receiving_done_) {
      if (!give_up) give_up = std::chrono::steady_clock::now() + stop_deadline_after;
      if (std::chrono::steady_clock::now() > *give_up) {
        dropped_ += queue_.size();
        queue_.clear();
        return;
      }
    }
    std::deque<Datagram> batch;
    while (!queue_.empty() && batch.size() < options_.batch) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    lock.unlock();
    Store(batch);
    lock.lock();
  }
}

void SyslogCollector::Store(const std::deque<Datagram>& batch) {
  std::vector<std::optional<std::string>> received, sender, host, facility, severity, code, message;
  for (const Datagram& d : batch) {
    const SyslogMessage m = ParseSyslogDatagram(d.bytes);
    received.push_back(d.received);
    sender.push_back(d.sender);
    const std::string key = MachineKey(m.host);
    host.push_back(key.empty() ? std::nullopt : std::optional<std::string>(key));
    facility.push_back(m.facility ? std::optional<std::string>(std::to_string(*m.facility))
                                  : std::nullopt);
    severity.push_back(m.severity ? std::optional<std::string>(std::to_string(*m.severity))
                                  : std::nullopt);
    code.push_back(m.code.empty() ? std::nullopt : std::optional<std::string>(m.code));
    message.push_back(m.text);
  }
  try {
    RunTransaction(pool_, [&](PgTransaction& tx) {
      tx.Exec(kInsertEvents, {PgTextArray(received), PgTextArray(sender), PgTextArray(host),
                              PgTextArray(facility), PgTextArray(severity), PgTextArray(code),
                              PgTextArray(message)});
    });
    stored_ += batch.size();
  } catch (const PgError& e) {
    dropped_ += batch.size();
    ServerLog("syslog: " + std::to_string(batch.size()) + " datagram(s) dropped: " + e.what());
  }
}

}  // namespace quarrin
