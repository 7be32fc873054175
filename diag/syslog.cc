#include "diag/syslog.h"
#include "platform/ascii.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quarrin {

namespace {

SyslogError SocketError(int number, std::string_view description) {
  return SyslogError("Socket Error # " + std::to_string(number) + "\r\n" +
                     std::string(description));
}

// Resolver failures keep the numbers and words of the socket layer's host
// look-up errors, which is what operators know them by.
SyslogError ResolveError(int code) {
  switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return SocketError(11001, "Host not found.");
    case EAI_AGAIN:
      return SocketError(11002, "Non-authoritative host not found.");
    default:
      return SocketError(11003, std::string("This is a non-recoverable error. (") +
                                    gai_strerror(code) + ")");
  }
}

bool IsLocalhost(std::string_view host) {
  return EqualsIgnoringAsciiCase(host, "localhost");
}

in_addr ResolveHost(const std::string& host) {
  in_addr address{};
  if (IsLocalhost(host)) {
    address.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  if (inet_pton(AF_INET, host.c_str(), &address) == 1) return address;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) throw SocketError(errno, std::strerror(errno));
    throw ResolveError(rc);
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      return reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
    }
  }
  throw ResolveError(EAI_NONAME);
}

class Socket {
 public:
  Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) throw SocketError(errno, std::strerror(errno));
  }
  ~Socket() { close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

std::string TwoDigits(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

}  // namespace

std::string SyslogDatagram(std::string_view text, int severity, int facility, DateTime now,
                           const RegionalSettings& settings) {
  CivilTime t = DecodeDateTime(now);
  char year[16];
  std::snprintf(year, sizeof year, "%04d", t.year);
  const std::string& sep = settings.time_separator;
  std::string datagram = "<" + std::to_string(severity + facility * 8) + ">" +
                         ShortMonthName(t.month) + " " + TwoDigits(t.day) + " " + year + " " +
                         TwoDigits(t.hour) + sep + TwoDigits(t.minute) + sep +
                         TwoDigits(t.second) + ": ";
  size_t room = kMaxSyslogDatagramBytes > datagram.size()
                    ? kMaxSyslogDatagramBytes - datagram.size()
                    : 0;
  if (text.size() > room) {
    size_t cut = room;
    // Do not split a UTF-8 character: back up over its continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
  }
  datagram += text;
  return datagram;
}

void SendSyslog(std::string_view text, std::string_view host, int severity, int facility,
                uint16_t port, Clock& clock, const RegionalSettings& settings) {
  if (host.empty()) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr = ResolveHost(std::string(host));

  std::string datagram = SyslogDatagram(text, severity, facility, clock.Now(), settings);
  Socket socket;
  ssize_t sent = sendto(socket.fd(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (sent < 0) throw SocketError(errno, std::strerror(errno));
}

Syslog::Syslog(std::string host, uint16_t port, Clock& clock, RegionalSettings settings,
               EventWriter events)
    : host_(std::move(host)),
      port_(port),
      clock_(clock),
      settings_(std::move(settings)),
      events_(std::move(events)) {}

void Syslog::SetHost(std::string host) {
  std::lock_guard lock(mu_);
  host_ = std::move(host);
}

std::string Syslog::host() const {
  std::lock_guard lock(mu_);
  return host_;
}

void Syslog::Send(const SyslogMessage& message) noexcept { Send(message, settings_); }

void Syslog::Send(const SyslogMessage& message, const RegionalSettings& settings) noexcept {
  std::string to;
  try {
    to = host();
    if (to.empty()) return;
    SendSyslog(message.text, to, message.severity, kSyslogFacility, port_, clock_, settings);
    failure_reported_.store(false);
  } catch (const std::exception& e) {
    ReportFailure(to, e.what());
  } catch (...) {
    ReportFailure(to, "unknown failure");
  }
}

void Syslog::ReportFailure(const std::string& host, std::string_view error) noexcept {
  if (failure_reported_.exchange(true)) return;
  try {
    std::string text = "Syslog message not sent to " + host + ":" + std::to_string(port_) +
                       ": " + std::string(error);
    events_.WriteEventLog(text, EventType::kError, 0, kSyslogFailureEventId);
  } catch (...) {
    // Out of memory while reporting: the datagram is lost either way.
  }
}

}  // namespace quarrin
