// The agent's pages and charts through the server.
#include "server/console/agent_console.h"

#include "server/agent_pages.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/view.h"
#include "server/machine_identity.h"

namespace quarrin {

namespace {

struct Chart {
  const char* page;
  const char* label;
};

constexpr Chart kCharts[] = {{"disk_d", "Day"}, {"disk_w", "Week"}, {"disk_m", "Month"},
                             {"disk_y", "Year"}};

std::string AgentPath(const std::string& key, const std::string& page) {
  return "/console/agent/" + UrlEncode(key) + "/" + page;
}

// The machine and page of "NAME/PAGE".
std::pair<InventoryStore::Reachable, AgentPage> Target(const PageRequest& r,
                                                       AgentConsoleContext& context) {
  const size_t slash = r.rest.rfind('/');
  const std::optional<AgentPage> page =
      slash == std::string::npos ? std::nullopt : AgentPageNamed(r.rest.substr(slash + 1));
  if (!page) throw PageError(404, "No page of the agent at " + r.http.Path + ".");
  const std::string name = r.rest.substr(0, slash);
  std::optional<InventoryStore::Reachable> machine = context.store.MachineAddress(name);
  if (!machine) throw PageError(404, "The server knows no machine " + name + ".");
  return {*machine, *page};
}

AgentAnswer Fetch(AgentConsoleContext& context, const InventoryStore::Reachable& machine,
                  AgentPage page) {
  if (machine.address.empty()) {
    AgentAnswer none;
    none.problem = machine.machine_name + " has not reported from an address the server knows";
    return none;
  }
  return context.agents.Get(machine.address, AgentPagePath(page));
}

void ServeImage(const InventoryStore::Reachable& machine, const AgentAnswer& answer,
                HttpServerReply& reply) {
  AddConsoleHeaders(reply);
  if (answer.ok && answer.content_type.rfind("image/jpeg", 0) == 0 && !answer.body.empty()) {
    reply.content_type = "image/jpeg";
    reply.body = answer.body;
    return;
  }
  std::string why = answer.problem;
  if (answer.ok) {
    // The agent's error reply names what went wrong.
    why = "the agent drew no chart";
    if (std::optional<AgentFacts> facts = AgentXmlFacts(answer.body)) {
      for (const auto& [name, value] : *facts) {
        if (name == "Error") why += ": " + value;
      }
    }
  }
  reply.status = 502;
  reply.content_type = "image/svg+xml";
  reply.body = MessageImage(machine.machine_name + ": " + why);
}

void ServeFacts(const PageRequest& r, const InventoryStore::Reachable& machine, AgentPage page,
                const AgentAnswer& answer, HttpServerReply& reply) {
  const std::string title = machine.machine_name + (page == AgentPage::kMenu ? ": the agent's menu"
                                                                             : ": the agent's details");
  std::string body = "<p><a href=\"" + Html(MachinePath(MachineKey(machine.machine_name))) +
                     "\">Back to " + Html(machine.machine_name) + "</a> &middot; fetched live from " +
                     Html(machine.address) + "</p>";
  std::optional<AgentFacts> facts;
  if (answer.ok) {
    facts = page == AgentPage::kMenu ? AgentMenuFacts(answer.body) : AgentXmlFacts(answer.body);
  }
  if (!answer.ok) {
    reply.status = 502;
    body += "<p class=\"error\">" + Html(answer.problem) + "</p>";
  } else if (!facts) {
    body += "<p class=\"error\">The agent's answer is not XML:</p><pre>" +
            Html(answer.body.substr(0, 4096)) + "</pre>";
  } else {
    body += "<dl class=\"details\">";
    for (const auto& [label, value] : *facts) body += "<dt>" + Html(label) + "</dt><dd>" + Html(value) + "</dd>";
    body += "</dl>";
  }
  ReplyPage(reply, r, title, body);
}

}  // namespace

std::string MessageImage(const std::string& text) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"790\" height=\"60\" role=\"img\">"
         "<rect width=\"100%\" height=\"100%\" fill=\"#fdf2f2\" stroke=\"#c0392b\"/>"
         "<text x=\"12\" y=\"35\" font-family=\"sans-serif\" font-size=\"13\" fill=\"#7b241c\">" +
         Html(text) + "</text></svg>\n";
}

void AddAgentPages(Console& console, AgentConsoleContext& context) {
  console.AddPage("GET", "/console/agent/", Role::kViewer,
                  [&context](const PageRequest& r, HttpServerReply& reply) {
    const auto [machine, page] = Target(r, context);
    const AgentAnswer answer = Fetch(context, machine, page);
    if (IsAgentImage(page)) return ServeImage(machine, answer, reply);
    ServeFacts(r, machine, page, answer, reply);
  });
}

std::string AgentSection(const MachineSectionInput& in) {
  const std::string& key = in.machine.key;
  std::string out = "<section id=\"agent\"><h2>The agent</h2>";
  if (in.machine.last_address.empty()) {
    return out + "<p class=\"muted\">The machine has not reported from an address the server "
                 "knows, so its agent cannot be reached.</p></section>\n";
  }
  out += "<p>Live from the agent at " + Html(in.machine.last_address) + ": <a href=\"" +
         Html(AgentPath(key, "info")) + "\">details</a> &middot; <a href=\"" +
         Html(AgentPath(key, "menu")) + "\">menu</a> &middot; <a href=\"" +
         Html(AgentPath(key, "mapdisk")) + "\">disk map</a></p><div class=\"charts\">";
  for (const Chart& c : kCharts) {
    out += "<figure><img src=\"" + Html(AgentPath(key, c.page)) + "\" alt=\"System drive use, " +
           c.label + "\" class=\"chart\" id=\"chart-" + c.page + "\"><figcaption>" + c.label +
           "</figcaption></figure>";
  }
  return out + "</div></section>\n";
}

}  // namespace quarrin
