// What the collector reads from a syslog datagram (RFC 3164): the priority,
// the host name when the header carries one, and the agent's message code.
//
// The agent's datagrams read "<21>Jan 05 2006 13:45:07: %QUARN-5-50000: ..."
// (a four-digit year and no host name); other senders write
// "<34>Oct 11 22:14:15 mymachine su: ...". A datagram without a valid
// priority is kept whole as its message, with no facility or severity.
#ifndef QUARRIN_SERVER_SYSLOG_MESSAGE_H_
#define QUARRIN_SERVER_SYSLOG_MESSAGE_H_

#include <optional>
#include <string>
#include <string_view>

namespace quarrin {

struct SyslogMessage {
  std::optional<int> facility;
  std::optional<int> severity;
  std::string host;  // the header's host name; empty when it has none
  std::string code;  // the agent's five digits; empty for other messages
  std::string text;  // the datagram after its priority, as UTF-8
};

SyslogMessage ParseSyslogDatagram(std::string_view datagram);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_SYSLOG_MESSAGE_H_
