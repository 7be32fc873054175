// The machine page's own sections: what the machine last reported, its
// applications, what changed, and its latest syslog events.
#include "core/service_identity.h"
#include "server/console/html.h"
#include "server/console/machine_page.h"
#include "server/console/view.h"

namespace quarrin {

namespace {

constexpr int kLatestRows = 50;

struct Field {
  const char* label;
  std::string sql;
};

}  // namespace

std::string DetailsSection(const MachineSectionInput& in) {
  const std::vector<Field> fields = {
      {"Machine name", "m.machine_name"},
      {"Operating system", "m.product_name"},
      {"Version", "m.current_version"},
      {"Service pack", "m.service_pack"},
      {"Last login", "m.last_login"},
      {"Registered owner", "m.registered_owner"},
      {"Organisation", "m.registered_organisation"},
      {"Processor", "m.cpu_name"},
      {"Processors", "m.tot_cpu::text"},
      {"Speed (MHz)", "m.cpu_speed::text"},
      {"Memory", "m.physical_memory"},
      {"Virtual machine", "CASE m.vmware WHEN true THEN 'yes' WHEN false THEN 'no' END"},
      {"Installed", DayText("m.install_date")},
      {"Serial number", "m.serial_no"},
      {"Acquisition date", DayText("m.acquisition_date")},
      {"Comment", "m.comments"},
      {"Service tag (register)", "a.service_tag"},
      {"Acquisition date (register)", DayText("a.acquisition_date")},
      {"Agent version",
       "(SELECT version FROM machine_applications WHERE machine_id = m.id"
       " AND application = $2 AND gone IS NULL)"},
      {"Address", "host(m.last_address)"},
      {"First seen (UTC)", UtcMinutes("m.first_seen")},
      {"Last report (UTC)", UtcMinutes("m.last_seen")},
  };
  std::string select = "SELECT ";
  for (size_t i = 0; i < fields.size(); ++i) select += (i ? ", " : "") + fields[i].sql;
  PgResult r = in.tx.Exec(select + " FROM machines m LEFT JOIN assets a ON a.name_key = m.name_key"
                                   " WHERE m.id = $1",
                          {PgValue(in.machine.id), kAppName});
  std::string out = "<section id=\"details\"><h2>Details</h2><dl class=\"details\">";
  for (size_t i = 0; i < fields.size(); ++i) {
    out += std::string("<dt>") + fields[i].label + "</dt><dd>" +
           Html(r.Text(0, static_cast<int>(i))) + "</dd>";
  }
  return out + "</dl></section>\n";
}

std::string ApplicationsSection(const MachineSectionInput& in) {
  PgResult r = in.tx.Exec(
      "SELECT a.application, a.version, a.path, " + UtcMinutes("a.first_seen") + ", " +
          UtcMinutes("CASE WHEN a.gone IS NULL THEN coalesce(m.apps_report_last_call,"
                     " m.apps_reported, a.changed) ELSE a.last_seen END") +
          ", coalesce(" + UtcMinutes("a.gone") + ", '')" +
          " FROM machine_applications a JOIN machines m ON m.id = a.machine_id"
          " WHERE a.machine_id = $1 ORDER BY a.gone IS NOT NULL, a.application",
      {PgValue(in.machine.id)});
  std::string out = "<section id=\"applications\"><h2>Applications</h2><table>" +
                    HeadRow({"Application", "Version", "Path", "First seen", "Last seen", "Gone"});
  for (int i = 0; i < r.rows(); ++i) {
    out += Row({"<a href=\"/console/applications?application=" + UrlEncode(r.Text(i, 0)) + "\">" +
                    Html(r.Text(i, 0)) + "</a>",
                Html(r.Text(i, 1)), Html(r.Text(i, 2)), r.Text(i, 3), r.Text(i, 4), r.Text(i, 5)});
  }
  if (r.rows() == 0) out += "<tr><td colspan=\"6\" class=\"muted\">None reported.</td></tr>";
  return out + "</table></section>\n";
}

std::string HistorySection(const MachineSectionInput& in) {
  PgResult r = in.tx.Exec("SELECT " + UtcMinutes("changed") +
                              ", kind, item, coalesce(old_value, ''), coalesce(new_value, '')"
                              " FROM machine_changes WHERE machine_id = $1"
                              " ORDER BY changed DESC, id DESC LIMIT $2",
                          {PgValue(in.machine.id), PgValue(int64_t{kLatestRows})});
  std::string out = "<section id=\"history\"><h2>What changed</h2><table>" +
                    HeadRow({"When (UTC)", "Kind", "What", "Was", "Became"});
  for (int i = 0; i < r.rows(); ++i) {
    out += Row({r.Text(i, 0), Html(r.Text(i, 1)), Html(r.Text(i, 2)), Html(r.Text(i, 3)),
                Html(r.Text(i, 4))});
  }
  if (r.rows() == 0) out += "<tr><td colspan=\"5\" class=\"muted\">Nothing yet.</td></tr>";
  return out + "</table></section>\n";
}

std::string EventsSection(const MachineSectionInput& in) {
  PgResult r = in.tx.Exec("SELECT " + UtcMinutes("received") +
                              ", severity::text, coalesce(code, ''), message FROM events"
                              " WHERE machine_id = $1 ORDER BY received DESC, id DESC LIMIT $2",
                          {PgValue(in.machine.id), PgValue(int64_t{kLatestRows})});
  std::string out = "<section id=\"events\"><h2>Latest events</h2><p><a href=\"/console/events?machine=" +
                    UrlEncode(in.machine.key) + "\">All events of this machine</a></p><table>" +
                    HeadRow({"Received (UTC)", "Severity", "Code", "Message"});
  for (int i = 0; i < r.rows(); ++i) {
    const std::string code = r.Text(i, 2);
    out += Row({r.Text(i, 0), SeverityName(r.Optional(i, 1)),
                "<span title=\"" + Html(CodeMeaning(code)) + "\">" + Html(code) + "</span>",
                Html(r.Text(i, 3))});
  }
  if (r.rows() == 0) out += "<tr><td colspan=\"4\" class=\"muted\">None stored.</td></tr>";
  return out + "</table></section>\n";
}

}  // namespace quarrin
