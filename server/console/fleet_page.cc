// The fleet: every machine with its edition, last report, agent version,
// serial number and acquisition date; searched, filtered, sorted and paged
// by key; the counts at the top from the counter tables; the current view
// as CSV.
#include "core/service_identity.h"
#include "platform/text/ascii.h"
#include "server/console/bar_chart.h"
#include "server/console/csv.h"
#include "server/console/fleet_counts.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/machine_page.h"
#include "server/console/pages.h"
#include "server/console/view.h"
#include "server/sql_conditions.h"

namespace quarrin {

namespace {

constexpr int kSilentDays = 7;
// Separates the sort value from the key in a page's "after".
constexpr char kCursorSeparator = '\x1f';

struct FleetView {
  std::string search;
  std::string edition;
  bool edition_set = false;  // "" is an edition too: machines that have not said
  std::string status;        // "", "today", "silent"
  std::string sort = "name";  // "name", "last", "edition"
  bool descending = false;
  std::string after;  // the cursor of the last row shown

  // The view's query text, without the cursor.
  std::string Query() const {
    std::string q = "sort=" + sort + "&dir=" + (descending ? "desc" : "asc");
    if (!search.empty()) q += "&q=" + UrlEncode(search);
    if (edition_set) q += "&edition=" + UrlEncode(edition);
    if (!status.empty()) q += "&status=" + status;
    return q;
  }
};

// `text` matched as it is by LIKE.
std::string LikeEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

struct FleetRow {
  std::string key, name, edition, last_seen, agent, serial, acquired, cursor;
};

FleetView ViewOf(const PageRequest& r) {
  FleetView v;
  v.search = r.Param("q");
  // "*" is the form's "(any)"; an empty edition is that of machines that
  // have not said.
  v.edition_set = r.form.Has("edition") && r.Param("edition") != "*";
  v.edition = r.Param("edition");
  v.status = r.Param("status");
  if (r.form.Has("sort")) v.sort = r.Param("sort");
  v.descending = r.Param("dir") == "desc";
  v.after = r.Param("after");
  if (v.status != "" && v.status != "today" && v.status != "silent") {
    throw PageError(400, "status is today or silent");
  }
  if (v.sort != "name" && v.sort != "last" && v.sort != "edition") {
    throw PageError(400, "sort is name, last or edition");
  }
  if (v.sort != "name" && !v.after.empty() && v.after.find(kCursorSeparator) == std::string::npos) {
    throw PageError(400, "after is not a cursor of this order");
  }
  return v;
}

// The view's machines in its order: `limit` of them, or all for 0.
std::vector<FleetRow> ReadFleet(PgConnection& db, const FleetView& v, const std::string& zone,
                                int limit) {
  PgParams params;
  Conditions where(&params);
  const std::string agent = where.Bind(kAppName);
  if (!v.search.empty()) {
    const std::string pattern = "%" + LikeEscaped(UpperAscii(v.search)) + "%";
    where.AddMany("(m.name_key LIKE $? OR upper(m.serial_no) LIKE $?)", {pattern, pattern});
  }
  if (v.edition_set) where.Add("coalesce(m.product_name, '') = $?", v.edition);
  if (v.status == "today") {
    where.AddMany("m.last_seen >= date_trunc('day', now() AT TIME ZONE $?) AT TIME ZONE $?",
                  {zone, zone});
  } else if (v.status == "silent") {
    where.Add("m.last_seen < now() - make_interval(days => $?::integer)", std::to_string(kSilentDays));
  }
  const char* op = v.descending ? "<" : ">";
  const char* dir = v.descending ? " DESC" : "";
  std::string order;
  if (v.sort == "name") {
    if (!v.after.empty()) where.Add(std::string("m.name_key ") + op + " $?", v.after);
    order = std::string("m.name_key") + dir;
  } else {
    const std::string column = v.sort == "last" ? "m.last_seen" : "coalesce(m.product_name, '')";
    const std::string type = v.sort == "last" ? "timestamptz" : "text";
    if (!v.after.empty()) {
      const size_t at = v.after.find(kCursorSeparator);
      where.AddMany("(" + column + ", m.name_key) " + op + " ($?::" + type + ", $?)",
                    {v.after.substr(0, at), v.after.substr(at + 1)});
    }
    order = column + dir + ", m.name_key" + dir;
  }
  std::string sql =
      "SELECT m.name_key, m.machine_name, coalesce(m.product_name, ''), " + UtcMinutes("m.last_seen") +
      ", coalesce(a.version, ''), coalesce(nullif(m.serial_no, ''), s.service_tag, ''),"
      " coalesce(" + DayText("m.acquisition_date") + ", " + DayText("s.acquisition_date") + ", ''), " +
      (v.sort == "last"
           ? "to_char(m.last_seen AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.US\"Z\"')"
           : "coalesce(m.product_name, '')") +
      " FROM machines m"
      " LEFT JOIN machine_applications a ON a.machine_id = m.id AND a.application = " + agent +
      " AND a.gone IS NULL"
      " LEFT JOIN assets s ON s.name_key = m.name_key" +
      where.text() + " ORDER BY " + order;
  if (limit > 0) sql += " LIMIT " + where.Bind(std::to_string(limit));
  PgResult r = db.Exec(sql, params);
  std::vector<FleetRow> rows;
  rows.reserve(static_cast<size_t>(r.rows()));
  for (int i = 0; i < r.rows(); ++i) {
    FleetRow row{r.Text(i, 0), r.Text(i, 1), r.Text(i, 2), r.Text(i, 3),
                 r.Text(i, 4), r.Text(i, 5), r.Text(i, 6), r.Text(i, 0)};
    if (v.sort != "name") row.cursor = r.Text(i, 7) + kCursorSeparator + row.key;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string CountsSection(const FleetCounts& c) {
  std::string out = "<div class=\"counts\">";
  out += "<a class=\"count\" href=\"/console/fleet\">Machines<b>" + std::to_string(c.machines) + "</b></a>";
  out += "<a class=\"count\" href=\"/console/fleet?status=today\">Reported today<b>" +
         std::to_string(c.reported_today) + "</b></a>";
  out += std::string("<a class=\"count") + (c.silent > 0 ? " warn" : "") +
         "\" href=\"/console/fleet?status=silent\">Silent for over " + std::to_string(kSilentDays) +
         " days<b>" + std::to_string(c.silent) + "</b></a></div>";
  std::vector<Bar> bars;
  for (const auto& [edition, n] : c.editions) {
    bars.push_back({edition, n, "/console/fleet?edition=" + UrlEncode(edition)});
  }
  return out + "<h2>Machines per edition</h2>" + BarChart(bars) + "\n";
}

std::string FilterForm(const FleetView& v, const FleetCounts& c) {
  const auto option = [](const std::string& value, const std::string& label, bool selected) {
    return "<option value=\"" + Html(value) + "\"" + (selected ? " selected" : "") + ">" +
           Html(label) + "</option>";
  };
  std::string out =
      "<form method=\"get\" action=\"/console/fleet\" class=\"filters\">"
      "<label>Name or serial <input name=\"q\" value=\"" + Html(v.search) + "\"></label>"
      "<label>Edition <select name=\"edition\">" + option("*", "(any)", !v.edition_set);
  for (const auto& [edition, n] : c.editions) {
    out += option(edition, edition.empty() ? "(unknown)" : edition, v.edition_set && v.edition == edition);
  }
  out += "</select></label><label>Last report <select name=\"status\">" +
         option("", "(any)", v.status.empty()) + option("today", "today", v.status == "today") +
         option("silent", "over " + std::to_string(kSilentDays) + " days ago", v.status == "silent") +
         "</select></label><label>Order <select name=\"sort\">" +
         option("name", "name", v.sort == "name") + option("last", "last report", v.sort == "last") +
         option("edition", "edition", v.sort == "edition") + "</select></label>"
         "<label>Direction <select name=\"dir\">" + option("asc", "ascending", !v.descending) +
         option("desc", "descending", v.descending) + "</select></label>"
         "<button type=\"submit\">Show</button></form>\n";
  return out;
}

std::string SortLink(const FleetView& v, const std::string& sort, const std::string& label) {
  FleetView next = v;
  next.descending = v.sort == sort ? !v.descending : false;
  next.sort = sort;
  const std::string mark = v.sort == sort ? (v.descending ? " &#9660;" : " &#9650;") : "";
  return "<a href=\"/console/fleet?" + Html(next.Query()) + "\">" + label + mark + "</a>";
}

void FleetPage(const PageRequest& r, HttpServerReply& reply, ConsoleContext& context) {
  const FleetView v = ViewOf(r);
  PgPool::Lease db = context.pool.Acquire();
  const FleetCounts counts = ReadFleetCounts(*db, context.settings.console_time_zone, kSilentDays);
  std::vector<FleetRow> rows = ReadFleet(*db, v, context.settings.console_time_zone, kPageRows + 1);
  const bool more = rows.size() > static_cast<size_t>(kPageRows);
  if (more) rows.pop_back();

  std::string body = CountsSection(counts) + FilterForm(v, counts);
  body += "<p><a href=\"/console/fleet.csv?" + Html(v.Query()) + "\">Export this view as CSV</a></p>";
  body += "<table>" + std::string("<tr><th>") + SortLink(v, "name", "Name") + "</th><th>" +
          SortLink(v, "edition", "Edition") + "</th><th>" + SortLink(v, "last", "Last report (UTC)") +
          "</th><th>Agent</th><th>Serial number</th><th>Acquired</th></tr>\n";
  for (const FleetRow& row : rows) {
    body += Row({"<a href=\"" + Html(MachinePath(row.key)) + "\">" + Html(row.name) + "</a>",
                 Html(row.edition), row.last_seen, Html(row.agent), Html(row.serial), row.acquired});
  }
  if (rows.empty()) body += "<tr><td colspan=\"6\" class=\"muted\">No machine matches.</td></tr>";
  body += "</table><div class=\"pager\">";
  if (!v.after.empty()) body += "<a href=\"/console/fleet?" + Html(v.Query()) + "\">First page</a>";
  if (more) {
    body += NextPageLink("/console/fleet?" + v.Query() + "&after=" + UrlEncode(rows.back().cursor));
  }
  body += "</div>";
  ReplyPage(reply, r, "Fleet", body);
}

void FleetCsv(const PageRequest& r, HttpServerReply& reply, ConsoleContext& context) {
  FleetView v = ViewOf(r);
  v.after.clear();
  PgPool::Lease db = context.pool.Acquire();
  const std::vector<FleetRow> rows = ReadFleet(*db, v, context.settings.console_time_zone, 0);
  std::string csv = CsvLine({"name", "edition", "last_report_utc", "agent_version", "serial_number",
                             "acquisition_date"});
  for (const FleetRow& row : rows) {
    csv += CsvLine({row.name, row.edition, row.last_seen, row.agent, row.serial, row.acquired});
  }
  reply.content_type = "text/csv; charset=utf-8";
  reply.headers.emplace_back("Content-Disposition", "attachment; filename=\"fleet.csv\"");
  reply.body = std::move(csv);
}

}  // namespace

void AddFleetPages(Console& console, ConsoleContext& context) {
  console.AddPage("GET", "/console/fleet", Role::kViewer,
                  [&context](const PageRequest& r, HttpServerReply& reply) {
                    FleetPage(r, reply, context);
                  });
  console.AddPage("GET", "/console/fleet.csv", Role::kViewer,
                  [&context](const PageRequest& r, HttpServerReply& reply) {
                    FleetCsv(r, reply, context);
                  });
}

}  // namespace quarrin
