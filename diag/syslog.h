// Syslog datagrams to the organisation's collector over UDP.
//
// A datagram is "<PRI>MMM DD YYYY HH:MM:SS: " followed by the message text,
// without a terminating zero or line end: PRI = severity + facility * 8, the
// English short month name, the day with two digits, the year with four, a
// 24-hour clock with the regional time separator.
#ifndef QUARRIN_DIAG_SYSLOG_H_
#define QUARRIN_DIAG_SYSLOG_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/agent_metrics.h"
#include "core/event_writer.h"
#include "diag/syslog_catalogue.h"
#include "platform/time/clock.h"
#include "platform/time/date_time.h"
#include "platform/regional/regional_settings.h"
#include "platform/net/udp_send.h"

namespace quarrin {

// Every message of the agent goes out with this facility.
inline constexpr int kSyslogFacility = 2;
inline constexpr uint16_t kDefaultSyslogPort = 514;
inline constexpr size_t kMaxSyslogDatagramBytes = kMaxUdpDatagramBytes;

// A failed send: "Socket Error # %d\r\n%s", the error number and its
// description. A name that does not resolve gives 11001 "Host not found."
// (11002 when the resolver could not be asked, 11003 for its other
// failures); a failing socket call gives the system's error number and text.
class SyslogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The datagram of text sent at now. A text too long for one datagram is cut
// (between characters of UTF-8) so that the whole has at most
// kMaxSyslogDatagramBytes.
std::string SyslogDatagram(std::string_view text, int severity, int facility, DateTime now,
                           const RegionalSettings& settings);

// Sends one datagram to UDP port `port` of host from a new socket, stamped
// with clock.Now(). An empty host sends nothing. "LOCALHOST" in any case is
// 127.0.0.1 and a dotted IPv4 address is used as it is, both without a
// look-up; any other name is resolved on every call (its first IPv4
// address). Throws SyslogError. Callable from any thread.
void SendSyslog(std::string_view text, std::string_view host, int severity, int facility,
                uint16_t port, Clock& clock, const RegionalSettings& settings);

// The event-log entry that reports a failed send: an error, category 0.
inline constexpr uint32_t kSyslogFailureEventId = 999;

// The agent's syslog sender: the collector's host and port with the clock
// and regional settings the datagrams are stamped with. A diagnostics
// datagram never ends what its caller is doing: Send does not throw. The
// first failed send is reported in the event log ("Syslog message not sent
// to HOST:PORT: " + the error); further failures are not, until a send has
// succeeded again, so a collector that stays unreachable cannot flood the
// log. Safe for concurrent use by multiple threads.
class Syslog {
 public:
  // An empty host sends nothing until SetHost names one. Datagrams sent
  // are counted in `metrics` unless it is null.
  Syslog(std::string host, uint16_t port, Clock& clock, RegionalSettings settings,
         EventWriter events, AgentMetrics* metrics = nullptr);
  Syslog(const Syslog&) = delete;
  Syslog& operator=(const Syslog&) = delete;

  void SetHost(std::string host);
  std::string host() const;
  uint16_t port() const { return port_; }

  // Sends the message with kSyslogFacility, stamped with the settings given
  // at construction, or with `settings`: those of the operation it is part of.
  void Send(const SyslogMessage& message) noexcept;
  void Send(const SyslogMessage& message, const RegionalSettings& settings) noexcept;

 private:
  void ReportFailure(const std::string& host, std::string_view error) noexcept;

  mutable std::mutex mu_;
  std::string host_;
  const uint16_t port_;
  Clock& clock_;
  const RegionalSettings settings_;
  const EventWriter events_;
  AgentMetrics* const metrics_;
  std::atomic<bool> failure_reported_{false};
};

}  // namespace quarrin

#endif  // QUARRIN_DIAG_SYSLOG_H_
