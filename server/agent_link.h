// The server's way to an agent's own HTTP port: its pages, its charts and
// its commands, fetched from the address the machine last reported from.
// The address always comes from the database (machines.last_address),
// never from a request, so the console cannot be made to fetch from
// anywhere else.
//
// Every exchange is bounded: a connect time-out, a time-out for the whole
// exchange, and a size cap on the answer. An agent that does not answer,
// refuses the server (its AllowedReaders / AllowedClients) or answers with
// something other than 200 is an AgentAnswer with a message for the
// administrator, not an exception.
#ifndef QUARRIN_SERVER_AGENT_LINK_H_
#define QUARRIN_SERVER_AGENT_LINK_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/net/http_client.h"

namespace quarrin {

struct AgentLinkOptions {
  uint16_t port = 88;
  std::chrono::seconds connect_timeout{3};
  std::chrono::seconds read_timeout{10};
  // The update check downloads and installs before it answers.
  std::chrono::seconds update_timeout{60};
  size_t max_bytes = 4u << 20;
};

// The agent's pages and charts that the console shows, by the name the
// console's addresses use ("disk_d").
enum class AgentPage { kMenu, kInfo, kDayChart, kWeekChart, kMonthChart, kYearChart, kDiskMap };
std::optional<AgentPage> AgentPageNamed(std::string_view name);
// "/", "/info", "/disk_d", ... as the agent's command table reads them.
std::string AgentPagePath(AgentPage page);
bool IsAgentImage(AgentPage page);

struct AgentAnswer {
  bool ok = false;        // the agent answered 200
  int status = 0;         // its status; 0 when it did not answer
  std::string content_type;
  std::string body;
  std::string problem;    // when not ok: what went wrong, for the administrator
};

// A text that cannot travel to the agent as its commands read it. what()
// says why, for the administrator.
class AgentValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The request target of the message command. The agent turns "%20" into a
// blank and decodes nothing else, so blanks travel as "%20" and every other
// character as itself; control characters and "#" (which would end the
// target) are refused, and so is an empty text or one longer than the
// agent shows. Throws AgentValueError.
std::string MessageTarget(std::string_view text);

// The request target of an attribute setter ("setcomment", ...). The agent
// takes the value up to the first blank and decodes nothing, so a value
// must be one word of visible ASCII characters without "#"; empty values
// (which the agent ignores) are refused too. Throws AgentValueError.
std::string SetterTarget(std::string_view command, std::string_view value);

// Safe for concurrent use by multiple threads.
class AgentLink {
 public:
  // `client` must outlive the link.
  AgentLink(HttpClient& client, AgentLinkOptions options) : client_(client), options_(options) {}

  // GETs `target` from the agent at `address` (an IPv4 or IPv6 address
  // text as the database keeps it). `slow` allows the update check's time.
  AgentAnswer Get(const std::string& address, const std::string& target, bool slow = false) const;

  const AgentLinkOptions& options() const { return options_; }

 private:
  HttpClient& client_;
  const AgentLinkOptions options_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_AGENT_LINK_H_
