#include "diag/syslog.h"

#include <cstdio>

#include "platform/text/ascii.h"
#include "platform/net/ipv4_lookup.h"
#include "platform/net/udp_send.h"

namespace quarrin {

namespace {

SyslogError SocketFailure(const SocketError& e) {
  return SyslogError("Socket Error # " + std::to_string(e.number()) + "\r\n" + e.what());
}

// "LOCALHOST" in any case and dotted addresses need no look-up.
uint32_t CollectorAddress(const std::string& host) {
  if (EqualsIgnoringAsciiCase(host, "localhost")) return *ParseDottedIPv4("127.0.0.1");
  if (auto address = ParseDottedIPv4(host)) return *address;
  return LookupIPv4Address(host);
}

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
  try {
    const uint32_t address = CollectorAddress(std::string(host));
    SendUdpDatagram(address, port,
                    SyslogDatagram(text, severity, facility, clock.Now(), settings));
  } catch (const SocketError& e) {
    throw SocketFailure(e);
  }
}

Syslog::Syslog(std::string host, uint16_t port, Clock& clock, RegionalSettings settings,
               EventWriter events, AgentMetrics* metrics)
    : host_(std::move(host)),
      port_(port),
      clock_(clock),
      settings_(std::move(settings)),
      events_(std::move(events)),
      metrics_(metrics) {}

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
    if (metrics_ != nullptr) metrics_->CountSyslogDatagram();
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
