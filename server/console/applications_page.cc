// Applications across the fleet: every application with its machines and
// versions (from the counter table the triggers keep), one application's
// versions, and the machines that run a version, or that version or older.
#include "server/console/bar_chart.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/machine_page.h"
#include "server/console/pages.h"
#include "server/console/view.h"
#include "server/machine_identity.h"
#include "server/sql_conditions.h"

namespace quarrin {

namespace {

constexpr char kPath[] = "/console/applications";

std::string AppLink(const std::string& application, const std::string& extra = "") {
  return std::string(kPath) + "?application=" + UrlEncode(application) + extra;
}

std::vector<std::string> Numbers(const std::array<int32_t, 4>& v) {
  return {std::to_string(v[0]), std::to_string(v[1]), std::to_string(v[2]), std::to_string(v[3])};
}

// Every application, by name, a page at a time.
std::string ApplicationList(const PageRequest& r, PgConnection& db) {
  const std::string search = r.Param("q");
  const std::string after = r.Param("after");
  PgParams params;
  Conditions where(&params);
  where.AddText("machines > 0");
  if (!search.empty()) where.Add("strpos(lower(application), lower($?)) > 0", search);
  if (!after.empty()) where.Add("application > $?", after);
  const std::string limit = where.Bind(std::to_string(kPageRows + 1));
  PgResult rows = db.Exec(
      "SELECT application, sum(n), count(*) FROM (SELECT application, version, sum(machines) AS n"
      " FROM application_version_counts" + where.text() +
          " GROUP BY application, version HAVING sum(machines) > 0) v"
          " GROUP BY application ORDER BY application LIMIT " + limit,
      params);
  std::string out =
      "<form method=\"get\" action=\"/console/applications\" class=\"filters\">"
      "<label>Application <input name=\"q\" value=\"" + Html(search) + "\"></label>"
      "<button type=\"submit\">Search</button></form><table>" +
      HeadRow({"Application", "Machines", "Versions"});
  const int shown = std::min(rows.rows(), kPageRows);
  for (int i = 0; i < shown; ++i) {
    out += Row({"<a href=\"" + Html(AppLink(rows.Text(i, 0))) + "\">" + Html(rows.Text(i, 0)) + "</a>",
                NumberCell(rows.Text(i, 1)), NumberCell(rows.Text(i, 2))});
  }
  if (shown == 0) out += "<tr><td colspan=\"3\" class=\"muted\">No application matches.</td></tr>";
  out += "</table><div class=\"pager\">";
  const std::string query = search.empty() ? "" : "q=" + UrlEncode(search) + "&";
  if (!after.empty()) out += "<a href=\"" + Html(std::string(kPath) + "?" + query) + "\">First page</a>";
  if (rows.rows() > kPageRows) {
    out += NextPageLink(std::string(kPath) + "?" + query + "after=" + UrlEncode(rows.Text(shown - 1, 0)));
  }
  return out + "</div>";
}

// One application's versions, newest first, with their machines.
std::string VersionList(const std::string& application, PgConnection& db) {
  PgResult rows = db.Exec(
      "SELECT version, sum(machines) FROM application_version_counts WHERE application = $1"
      " GROUP BY version, v_major, v_minor, v_release, v_build HAVING sum(machines) > 0"
      " ORDER BY v_major DESC NULLS LAST, v_minor DESC, v_release DESC, v_build DESC, version DESC",
      {application});
  std::vector<Bar> bars;
  std::string table = "<table>" + HeadRow({"Version", "Machines"});
  for (int i = 0; i < rows.rows(); ++i) {
    const std::string link = AppLink(application, "&version=" + UrlEncode(rows.Text(i, 0)));
    bars.push_back({rows.Text(i, 0), rows.Int64(i, 1), link});
    table += Row({"<a href=\"" + Html(link) + "\">" + Html(rows.Text(i, 0)) + "</a>",
                  NumberCell(rows.Text(i, 1))});
  }
  if (rows.rows() == 0) table += "<tr><td colspan=\"2\" class=\"muted\">No machine has it.</td></tr>";
  return "<p><a href=\"/console/applications\">All applications</a></p>"
         "<form method=\"get\" action=\"/console/applications\" class=\"filters\">"
         "<input type=\"hidden\" name=\"application\" value=\"" + Html(application) + "\">"
         "<label>Machines with version <input name=\"at_most\" placeholder=\"11.0\"></label>"
         "<button type=\"submit\">or older</button></form>" +
         BarChart(bars, 20) + table + "</table>";
}

// Matches below this many are gathered through the applications' version
// index and sorted; above it, the machines are walked by name, where a
// page's matches come soon.
constexpr int64_t kFewMatches = 2000;

// The machines that run a version of the application (exactly, or at
// most), by name, a page at a time: one query however many match.
std::string MachineList(const PageRequest& r, const std::string& application, PgConnection& db) {
  const std::string version = r.Param("version");
  const std::string at_most = r.Param("at_most");
  const std::string after = r.Param("after");
  PgParams params;
  Conditions where(&params);
  const std::string app = where.Bind(application);
  // The condition on a row of machine_applications or of the counter
  // table, its columns after `prefix`; the parameters are bound once.
  std::string numbers_op, version_ph;
  std::vector<std::string> numbers_ph;
  std::string title, query = "&";
  std::optional<std::array<int32_t, 4>> numbers;
  if (!at_most.empty()) {
    numbers = VersionBound(at_most);
    if (!numbers) throw PageError(400, "'" + at_most + "' is not 1 to 4 numbers joined by points");
    numbers_op = "<=";
    title = "version " + at_most + " or older";
    query += "at_most=" + UrlEncode(at_most);
  } else {
    numbers = VersionNumbers(version);
    numbers_op = "=";
    version_ph = where.Bind(version);
    title = "version " + version;
    query += "version=" + UrlEncode(version);
  }
  if (numbers) {
    for (const std::string& n : Numbers(*numbers)) numbers_ph.push_back(where.Bind(n));
  }
  const auto condition = [&](const std::string& p) {
    std::string c = p + "application = " + app;
    if (numbers) {
      c += " AND (" + p + "v_major, " + p + "v_minor, " + p + "v_release, " + p + "v_build) " +
           numbers_op + " (" + numbers_ph[0] + ", " + numbers_ph[1] + ", " + numbers_ph[2] + ", " +
           numbers_ph[3] + ")";
    }
    if (!version_ph.empty()) c += " AND " + p + "version = " + version_ph;
    return c;
  };
  // How many match, from the counter table, picks the way to the page.
  const int64_t matches =
      db.Exec("SELECT coalesce(sum(machines), 0) FROM application_version_counts WHERE " +
                  condition(""),
              params)
          .Int64(0, 0);
  const std::string row_condition = condition("a.") + " AND a.gone IS NULL";
  if (!after.empty()) where.AddText("m.name_key > " + where.Bind(after));
  const std::string limit = where.Bind(std::to_string(kPageRows + 1));
  const std::string select =
      "SELECT m.name_key, m.machine_name, coalesce(m.product_name, ''), " + UtcMinutes("m.last_seen") +
      ", (SELECT version FROM machine_applications WHERE machine_id = m.id AND application = " + app +
      ")";
  const std::string order = " ORDER BY m.name_key LIMIT " + limit;
  const std::string and_after = where.text().empty() ? "" : " AND" + where.text().substr(6);
  PgResult rows =
      matches < kFewMatches
          ? db.Exec("WITH hits AS MATERIALIZED (SELECT a.machine_id FROM machine_applications a"
                    " WHERE " + row_condition + ") " + select +
                        " FROM hits JOIN machines m ON m.id = hits.machine_id" + where.text() + order,
                    params)
          : db.Exec(select + " FROM machines m WHERE EXISTS (SELECT 1 FROM machine_applications a"
                    " WHERE a.machine_id = m.id AND " + row_condition + ")" + and_after + order,
                    params);
  std::string out = "<p><a href=\"" + Html(AppLink(application)) + "\">All versions of " +
                    Html(application) + "</a></p><h2>" + std::to_string(matches) + " machines with " +
                    Html(title) + "</h2><table>" +
                    HeadRow({"Machine", "Edition", "Last report (UTC)", "Version"});
  const int shown = std::min(rows.rows(), kPageRows);
  for (int i = 0; i < shown; ++i) {
    out += Row({"<a href=\"" + Html(MachinePath(rows.Text(i, 0))) + "\">" + Html(rows.Text(i, 1)) + "</a>",
                Html(rows.Text(i, 2)), rows.Text(i, 3), Html(rows.Text(i, 4))});
  }
  if (shown == 0) out += "<tr><td colspan=\"4\" class=\"muted\">None.</td></tr>";
  out += "</table><div class=\"pager\">";
  if (rows.rows() > kPageRows) {
    out += NextPageLink(AppLink(application, query + "&after=" + UrlEncode(rows.Text(shown - 1, 0))));
  }
  return out + "</div>";
}

}  // namespace

void AddApplicationPages(Console& console, ConsoleContext& context) {
  console.AddPage("GET", kPath, Role::kViewer, [&context](const PageRequest& r, HttpServerReply& reply) {
    const std::string application = r.Param("application");
    PgPool::Lease db = context.pool.Acquire();
    if (application.empty()) return ReplyPage(reply, r, "Applications", ApplicationList(r, *db));
    const bool machines = r.form.Has("version") || r.form.Has("at_most");
    ReplyPage(reply, r, application,
              machines ? MachineList(r, application, *db) : VersionList(application, *db));
  });
}

}  // namespace quarrin
