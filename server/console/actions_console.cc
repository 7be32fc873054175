// Actions on a machine, and the audit log they write.
#include "server/console/agent_console.h"

#include <charconv>

#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/view.h"
#include "server/machine_identity.h"

namespace quarrin {

namespace {

constexpr int kMachineAuditRows = 10;
constexpr size_t kAnswerChars = 160;

std::string ActionPath(const std::string& key, const std::string& action) {
  return MachinePath(key) + "/" + action;
}

std::string Shortened(const std::string& text) {
  return text.size() <= kAnswerChars ? text : text.substr(0, kAnswerChars) + "...";
}

// One table of entries; `with_machine` adds the machine's column.
std::string AuditTable(const std::vector<AuditEntry>& entries, bool with_machine) {
  std::string out = "<table class=\"audit\">";
  out += with_machine ? HeadRow({"When (UTC)", "Who", "Action", "Machine", "Carried", "Outcome",
                                 "The agent's answer"})
                      : HeadRow({"When (UTC)", "Who", "Action", "Carried", "Outcome",
                                 "The agent's answer"});
  for (const AuditEntry& e : entries) {
    const std::string when = Html(e.at.substr(0, 10) + " " + e.at.substr(11, 8));
    const std::string outcome =
        std::string(e.ok ? "<td class=\"ok\">ok" : "<td class=\"failed\">failed") +
        (e.agent_status ? " (" + std::to_string(*e.agent_status) + ")" : "") + "</td>";
    const std::string machine = "<a href=\"" + Html(MachinePath(MachineKey(e.machine_name))) +
                                "\">" + Html(e.machine_name) + "</a>";
    if (with_machine) {
      out += Row({when, Html(e.actor), Html(e.action), machine, Html(e.detail), outcome,
                  Html(Shortened(e.answer))});
    } else {
      out += Row({when, Html(e.actor), Html(e.action), Html(e.detail), outcome,
                  Html(Shortened(e.answer))});
    }
  }
  if (entries.empty()) {
    out += "<tr><td colspan=\"7\" class=\"muted\">No actions recorded.</td></tr>";
  }
  return out + "</table>";
}

std::string Field(const char* label, const char* name, const char* type, const std::string& extra) {
  return std::string("<label>") + label + " <input type=\"" + type + "\" name=\"" + name +
         "\" required " + extra + "></label>";
}

}  // namespace

std::string ActionsSection(const MachineSectionInput& in) {
  const PageRequest& r = in.request;
  const std::string& key = in.machine.key;
  std::string out = "<section id=\"actions\"><h2>Actions</h2>";
  if (r.Allows(Role::kOperator)) {
    out += "<div class=\"actions\">";
    out += PostForm(r, ActionPath(key, "message")) +
           Field("Message to its user", "text", "text", "maxlength=\"2000\" id=\"message-text\"") +
           "<button type=\"submit\" id=\"send-message\">Show message</button></form>";
    out += PostForm(r, ActionPath(key, "update-check")) +
           "<button type=\"submit\" id=\"update-check\">Check for an update now</button></form>";
    out += PostForm(r, ActionPath(key, "comment")) +
           Field("Comment", "value", "text", "maxlength=\"200\" pattern=\"[!-~]+\"") +
           "<button type=\"submit\">Set comment</button></form>";
    out += PostForm(r, ActionPath(key, "serial")) +
           Field("Serial number", "value", "text", "maxlength=\"200\" pattern=\"[!-~]+\"") +
           "<button type=\"submit\">Set serial number</button></form>";
    out += PostForm(r, ActionPath(key, "acquisition")) +
           Field("Acquisition date", "date", "date", "") +
           "<button type=\"submit\">Set acquisition date</button></form>";
    out += "</div><p class=\"muted\">Comment and serial number travel as one word (the agent "
           "stops at a blank); serial number and acquisition date also go into the asset "
           "register.</p>";
  }
  const AuditFilter filter{in.machine.machine_name, "", std::nullopt, kMachineAuditRows};
  out += "<h3>Latest actions</h3>" + AuditTable(ReadAudit(in.tx, filter), false) +
         "<p><a href=\"/console/audit?machine=" + UrlEncode(key) + "\">All actions on " +
         Html(in.machine.machine_name) + "</a></p>";
  return out + "</section>\n";
}

void AddActionPages(Console& console, AgentConsoleContext& context) {
  console.AddPage("POST", "/console/machines/", Role::kOperator,
                  [&context](const PageRequest& r, HttpServerReply& reply) {
    const size_t slash = r.rest.rfind('/');
    if (slash == std::string::npos) throw PageError(404, "No action at " + r.http.Path + ".");
    const std::string machine = r.rest.substr(0, slash);
    const std::string action = r.rest.substr(slash + 1);
    const std::string& actor = r.user().name;
    MachineActions& actions = context.actions;
    ActionOutcome outcome;
    try {
      if (action == "message") {
        outcome = actions.ShowMessage(actor, machine, r.Param("text"));
      } else if (action == "update-check") {
        outcome = actions.CheckForUpdate(actor, machine);
      } else if (action == "comment") {
        outcome = actions.SetComment(actor, machine, r.Param("value"));
      } else if (action == "serial") {
        outcome = actions.SetSerialNumber(actor, machine, r.Param("value"));
      } else if (action == "acquisition") {
        outcome = actions.SetAcquisitionDate(actor, machine, r.Param("date"));
      } else {
        throw PageError(404, "No action " + action + ".");
      }
    } catch (const ActionRefused& e) {
      throw PageError(400, e.what());
    }
    if (!outcome.ok) reply.status = 502;
    const std::string back = MachinePath(MachineKey(machine));
    ReplyPage(reply, r, outcome.ok ? "Done" : "Not done",
              std::string("<p class=\"") + (outcome.ok ? "ok" : "error") + "\" id=\"outcome\">" +
                  Html(outcome.summary) + "</p><p>Recorded in the <a href=\"/console/audit?machine=" +
                  UrlEncode(MachineKey(machine)) + "\">audit log</a>. <a href=\"" + Html(back) +
                  "\">Back to the machine</a></p>");
  });
}

void AddAuditPages(Console& console, AgentConsoleContext& context) {
  console.AddPage("GET", "/console/audit", Role::kViewer,
                  [&context](const PageRequest& r, HttpServerReply& reply) {
    AuditFilter filter;
    filter.machine = r.Param("machine");
    filter.actor = r.Param("actor");
    filter.limit = kPageRows;
    const std::string before = r.Param("before");
    if (!before.empty()) {
      int64_t id = 0;
      const auto [end, error] = std::from_chars(before.data(), before.data() + before.size(), id);
      if (error != std::errc() || end != before.data() + before.size()) {
        throw PageError(400, "before=" + before + " is not an entry number.");
      }
      filter.before_id = id;
    }
    const std::vector<AuditEntry> entries = context.audit.List(filter);
    std::string body =
        "<form method=\"get\" action=\"/console/audit\" class=\"filters\">"
        "<label>Machine <input type=\"text\" name=\"machine\" value=\"" + Html(filter.machine) +
        "\"></label><label>Who <input type=\"text\" name=\"actor\" value=\"" + Html(filter.actor) +
        "\"></label><button type=\"submit\">Filter</button></form>"
        "<p class=\"muted\">Every action taken on a machine from the console, newest first. "
        "The log cannot be changed; entries leave after " +
        std::to_string(context.retention_days) + " days.</p>" + AuditTable(entries, true);
    if (static_cast<int>(entries.size()) == filter.limit) {
      body += "<p><a href=\"/console/audit?machine=" + UrlEncode(filter.machine) + "&amp;actor=" +
              UrlEncode(filter.actor) + "&amp;before=" + std::to_string(entries.back().id) +
              "\">Older entries</a></p>";
    }
    ReplyPage(reply, r, "Audit log", body);
  });
}

}  // namespace quarrin
