// The syslog stream, newest first, filtered by machine, severity and the
// agent's message code, with what each of the agent's codes means.
#include "diag/syslog_catalogue.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/machine_page.h"
#include "server/console/pages.h"
#include "server/console/view.h"
#include "server/machine_identity.h"
#include "server/sql_conditions.h"

namespace quarrin {

namespace {

constexpr char kPath[] = "/console/events";

std::string Catalogue() {
  std::string out = "<h2>The agent's message codes</h2><table>" +
                    HeadRow({"Code", "Severity", "Meaning", "Text begins"});
  for (const SyslogCatalogueEntry& e : SyslogCatalogue()) {
    const std::string code(e.prefix.substr(1, 5));
    out += Row({"<a href=\"/console/events?code=" + code + "\">" + code + "</a>",
                SeverityName(std::to_string(e.severity)), Html(e.meaning),
                "<code>%QUARN-" + std::to_string(e.severity) + Html(e.prefix) + "</code>"});
  }
  return out + "</table>";
}

void EventsPage(const PageRequest& r, HttpServerReply& reply, ConsoleContext& context) {
  const std::string machine = MachineKey(r.Param("machine"));
  const std::string severity = r.Param("severity");
  const std::string code = r.Param("code");
  const std::string after = r.Param("after");  // "<id>" of the last row shown
  if (!severity.empty() && (severity.size() != 1 || severity[0] < '0' || severity[0] > '7')) {
    throw PageError(400, "severity is a number from 0 to 7");
  }
  if (!after.empty() && after.find_first_not_of("0123456789") != std::string::npos) {
    throw PageError(400, "after is the number of an event");
  }
  PgParams params;
  Conditions where(&params);
  if (!r.Param("machine").empty()) {
    where.Add("e.machine_id = (SELECT id FROM machines WHERE name_key = $?)", machine);
  }
  if (!severity.empty()) where.Add("e.severity <= $?::integer", severity);
  if (!code.empty()) where.Add("e.code = $?", code);
  // Newest first by the time received, ties by number; the cursor is the
  // last row's number, its time read back from it.
  if (!after.empty()) {
    where.Add("(e.received, e.id) < (SELECT received, id FROM events WHERE id = $?::bigint)", after);
  }
  const std::string limit = where.Bind(std::to_string(kPageRows + 1));
  PgPool::Lease db = context.pool.Acquire();
  PgResult rows = db->Exec(
      "SELECT e.id, " + UtcMinutes("e.received") + ", host(e.sender), coalesce(m.name_key, ''),"
      " coalesce(m.machine_name, ''), e.severity::text, coalesce(e.code, ''), e.message"
      " FROM events e LEFT JOIN machines m ON m.id = e.machine_id" + where.text() +
          " ORDER BY e.received DESC, e.id DESC LIMIT " + limit,
      params);

  const auto option = [&](const std::string& value, const std::string& label) {
    return "<option value=\"" + value + "\"" + (severity == value ? " selected" : "") + ">" + label +
           "</option>";
  };
  std::string body =
      "<form method=\"get\" action=\"/console/events\" class=\"filters\">"
      "<label>Machine <input name=\"machine\" value=\"" + Html(r.Param("machine")) + "\"></label>"
      "<label>Severity <select name=\"severity\">" + option("", "(any)");
  for (int s = 0; s <= 7; ++s) {
    body += option(std::to_string(s), SeverityName(std::to_string(s)) + (s < 7 ? " or worse" : ""));
  }
  body += "</select></label><label>Code <input name=\"code\" size=\"6\" value=\"" + Html(code) +
          "\"></label><button type=\"submit\">Show</button></form><table>" +
          HeadRow({"Received (UTC)", "Machine", "Sender", "Severity", "Code", "Message"});
  const int shown = std::min(rows.rows(), kPageRows);
  for (int i = 0; i < shown; ++i) {
    const std::string key = rows.Text(i, 3);
    const std::string c = rows.Text(i, 6);
    const std::string_view meaning = CodeMeaning(c);
    body += Row({rows.Text(i, 1),
                 key.empty() ? "" : "<a href=\"" + Html(MachinePath(key)) + "\">" + Html(rows.Text(i, 4)) + "</a>",
                 Html(rows.Text(i, 2)), SeverityName(rows.Optional(i, 5)),
                 c.empty() ? "" : "<abbr title=\"" + Html(meaning) + "\">" + Html(c) + "</abbr>",
                 Html(rows.Text(i, 7)) +
                     (meaning.empty() ? "" : "<br><span class=\"muted\">" + Html(meaning) + "</span>")});
  }
  if (shown == 0) body += "<tr><td colspan=\"6\" class=\"muted\">No event matches.</td></tr>";
  body += "</table><div class=\"pager\">";
  std::string query;
  for (const char* name : {"machine", "severity", "code"}) {
    if (!r.Param(name).empty()) query += std::string(name) + "=" + UrlEncode(r.Param(name)) + "&";
  }
  if (!after.empty()) body += "<a href=\"" + Html(std::string(kPath) + "?" + query) + "\">Newest</a>";
  if (rows.rows() > kPageRows) {
    body += NextPageLink(std::string(kPath) + "?" + query + "after=" + rows.Text(shown - 1, 0), "Older");
  }
  body += "</div>" + Catalogue();
  ReplyPage(reply, r, "Events", body);
}

}  // namespace

void AddEventPages(Console& console, ConsoleContext& context) {
  console.AddPage("GET", kPath, Role::kViewer, [&context](const PageRequest& r, HttpServerReply& reply) {
    EventsPage(r, reply, context);
  });
}

}  // namespace quarrin
