// Who may use the HTTP commands. Two lists of addresses and networks from
// the Deployment key:
//
//   AllowedClients  may use the commands that change something or act on
//                   the machine: the setters, message, update, syslog test
//                   and disk map.
//   AllowedReaders  may use the others (menu, info, apps, charts, odx,
//                   metrics);
//                   AllowedClients may use them too.
//
// An empty list lets every client in, as an agent without these settings
// always has. A refused request is answered 403 with a short text, and the
// event log says so at most once a minute (with the number refused since).
#ifndef QUARRIN_HTTP_CLIENT_ACCESS_H_
#define QUARRIN_HTTP_CLIENT_ACCESS_H_

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_writer.h"
#include "http/dispatcher.h"
#include "platform/net/ip_address.h"

namespace quarrin {

// Warning entry for refused requests.
inline constexpr uint32_t kRefusedClientEvent = 5;

// Addresses and networks: "10.0.0.0/8, 192.168.5.7, ::1".
class AddressList {
 public:
  // Entries are separated by commas, semicolons or blanks; an entry is an
  // IPv4 or IPv6 address, with "/" and a prefix length for a network (host
  // bits are ignored). An IPv4 entry also matches the client as an
  // IPv4-mapped IPv6 address. Throws std::invalid_argument naming
  // `setting` and the entry that is not one.
  static AddressList Parse(std::string_view setting, std::string_view text);

  bool empty() const { return networks_.empty(); }
  bool Contains(const IpAddress& address) const;

 private:
  struct Network {
    IpAddress base;
    int prefix_bits;
  };
  std::vector<Network> networks_;
};

struct ClientAccess {
  AddressList allowed_clients;
  AddressList allowed_readers;
};

// True for the commands that change something or act on the machine.
bool CommandActs(HttpCommand command);

// Nullopt when `client` may use `command`; the 403 reply's text otherwise.
// A request whose client address is unknown is refused wherever a list
// applies.
std::optional<std::string> AccessRefusal(const ClientAccess& access, HttpCommand command,
                                         const std::optional<IpAddress>& client);

// Writes refusals to the event log, at most one entry per interval; the
// next entry counts those left out. Safe for concurrent use.
class RefusalLog {
 public:
  RefusalLog(const EventWriter& events, std::chrono::milliseconds interval = std::chrono::minutes(1))
      : events_(events), interval_(interval) {}

  // `now` is the steady clock's time of the refusal.
  void Refused(const std::string& client, std::string_view request_line, std::string_view reason,
               std::chrono::steady_clock::time_point now);

 private:
  const EventWriter& events_;
  const std::chrono::milliseconds interval_;
  std::mutex mu_;
  std::optional<std::chrono::steady_clock::time_point> last_;
  uint64_t left_out_ = 0;
};

}  // namespace quarrin

#endif  // QUARRIN_HTTP_CLIENT_ACCESS_H_
