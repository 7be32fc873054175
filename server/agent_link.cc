#include "server/agent_link.h"

#include <array>

#include "http/dispatcher.h"
#include "platform/net/ip_address.h"

namespace quarrin {

namespace {

constexpr size_t kMaxAttributeChars = 200;

struct PageName {
  AgentPage page;
  std::string_view name;  // in the console's addresses; the agent's path is "/" + name
};

constexpr std::array<PageName, 7> kPages = {{
    {AgentPage::kMenu, "menu"},
    {AgentPage::kInfo, "info"},
    {AgentPage::kDayChart, "disk_d"},
    {AgentPage::kWeekChart, "disk_w"},
    {AgentPage::kMonthChart, "disk_m"},
    {AgentPage::kYearChart, "disk_y"},
    {AgentPage::kDiskMap, "mapdisk"},
}};

std::string Seconds(std::chrono::seconds s) { return std::to_string(s.count()) + " s"; }

}  // namespace

std::optional<AgentPage> AgentPageNamed(std::string_view name) {
  for (const PageName& p : kPages) {
    if (p.name == name) return p.page;
  }
  return std::nullopt;
}

std::string AgentPagePath(AgentPage page) {
  if (page == AgentPage::kMenu) return "/";
  for (const PageName& p : kPages) {
    if (p.page == page) return "/" + std::string(p.name);
  }
  return "/";
}

bool IsAgentImage(AgentPage page) { return page != AgentPage::kMenu && page != AgentPage::kInfo; }

std::string MessageTarget(std::string_view text) {
  if (text.empty()) throw AgentValueError("the message is empty");
  if (text.size() > kMaxMessageChars) {
    throw AgentValueError("the message is longer than " + std::to_string(kMaxMessageChars) +
                          " characters");
  }
  std::string target = "/?msg=";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      throw AgentValueError("the message holds a control character (a line break, say); "
                            "the agent shows one line");
    }
    if (c == '#') throw AgentValueError("the message holds '#', which the agent never receives");
    if (c == ' ') {
      target += "%20";
    } else {
      target += c;
    }
  }
  return target;
}

std::string SetterTarget(std::string_view command, std::string_view value) {
  if (value.empty()) {
    throw AgentValueError("the value is empty; the agent keeps its value when given none");
  }
  if (value.size() > kMaxAttributeChars) {
    throw AgentValueError("the value is longer than " + std::to_string(kMaxAttributeChars) +
                          " characters");
  }
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == ' ') {
      throw AgentValueError("the value holds a blank; the agent takes one word (write _ or -)");
    }
    if (byte < 0x21 || byte > 0x7E || c == '#') {
      throw AgentValueError(std::string("the value holds '") + c +
                            "'; the agent takes visible ASCII characters other than '#'");
    }
  }
  return "/" + std::string(command) + "=" + std::string(value);
}

AgentAnswer AgentLink::Get(const std::string& address, const std::string& target, bool slow) const {
  AgentAnswer answer;
  const std::optional<IpAddress> ip = ParseIpAddress(address);
  if (!ip) {
    answer.problem = "the machine's last address '" + address + "' is not an IP address";
    return answer;
  }
  const std::string text = ip->Text();
  const std::string host = ip->IsIPv4() ? text : "[" + text + "]";
  const std::string where = host + ":" + std::to_string(options_.port);
  HttpRequest request;
  request.url = "http://" + where + target;
  request.connect_timeout = options_.connect_timeout;
  request.total_timeout = slow ? options_.update_timeout : options_.read_timeout;
  request.idle_timeout = request.total_timeout;
  request.max_body_bytes = options_.max_bytes;
  request.max_redirects = 0;
  request.user_agent = "quarrin-server";
  try {
    HttpResponse response = client_.Send(request);
    answer.status = response.status;
    answer.content_type = std::move(response.content_type);
    answer.body = std::move(response.body);
  } catch (const HttpError& e) {
    switch (e.kind()) {
      case HttpError::Kind::kTimeout:
        answer.problem = "the agent at " + where + " did not answer within " +
                         Seconds(slow ? options_.update_timeout : options_.read_timeout) +
                         " (connecting: " + Seconds(options_.connect_timeout) + "): " + e.what();
        break;
      case HttpError::Kind::kBodyTooLarge:
        answer.problem = "the agent at " + where + " sent more than " +
                         std::to_string(options_.max_bytes) + " bytes";
        break;
      default:
        answer.problem = "the agent at " + where + " does not answer: " + e.what();
    }
    return answer;
  }
  if (answer.status == 403) {
    answer.problem = "the agent at " + where + " refuses this server (its AllowedReaders or "
                     "AllowedClients): " + answer.body.substr(0, 200);
  } else if (answer.status != 200) {
    answer.problem = "the agent at " + where + " answered " + std::to_string(answer.status) +
                     ": " + answer.body.substr(0, 200);
  } else {
    answer.ok = true;
  }
  return answer;
}

}  // namespace quarrin
