// Updates: the published builds, the rings and the build each serves, the
// agent versions the machines of each ring run; publishing and promoting
// for administrators, as the server's publish and promote commands do.
#include <map>

#include "core/service_identity.h"
#include "server/console/agent_console.h"
#include "server/console/bar_chart.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/pages.h"
#include "server/console/view.h"
#include "update/update_signature.h"

namespace quarrin {

namespace {

// Machines per ring and agent version, from the counter table.
std::map<std::string, std::map<std::string, int64_t>> VersionsPerRing(PgConnection& db) {
  std::map<std::string, std::map<std::string, int64_t>> rings;
  PgResult r = db.Exec("SELECT ring, version, machines FROM ring_agent_counts WHERE machines > 0");
  for (int i = 0; i < r.rows(); ++i) rings[r.Text(i, 0)][r.Text(i, 1)] = r.Int64(i, 2);
  return rings;
}

std::string Select(const char* name, const std::vector<std::string>& values) {
  std::string out = std::string("<select name=\"") + name + "\">";
  for (const std::string& v : values) out += "<option>" + Html(v) + "</option>";
  return out + "</select>";
}

void UpdatesPage(const PageRequest& r, HttpServerReply& reply, ConsoleContext& context) {
  const UpdateSite& site = context.site;
  const std::vector<std::string> builds = site.Builds();
  const std::vector<std::string> rings = site.Rings();
  PgPool::Lease db = context.pool.Acquire();
  const auto per_ring = VersionsPerRing(*db);

  std::string body;
  if (const std::string notice = r.Param("notice"); !notice.empty()) {
    body += "<p class=\"notice\">" + Html(notice) + "</p>";
  }
  body += RolloutStatusSection(r, context);
  body += "<h2>Rings</h2><table>" + HeadRow({"Ring", "Serves", "Machines", "Agent versions"});
  for (const std::string& ring : rings) {
    const std::optional<std::string> serves = site.RingVersion(ring);
    int64_t machines = 0;
    std::vector<Bar> bars;
    if (const auto it = per_ring.find(ring); it != per_ring.end()) {
      for (const auto& [version, n] : it->second) {
        if (n <= 0) continue;
        machines += n;
        bars.push_back({version, n, "/console/applications?application=" + UrlEncode(kAppName) +
                                        "&version=" + UrlEncode(version)});
      }
    }
    body += Row({Html(ring), serves ? Html(*serves) : "<span class=\"muted\">nothing</span>",
                 NumberCell(std::to_string(machines)), BarChart(bars, 8)});
  }
  body += "</table><p class=\"muted\">A machine counts in the ring whose manifest was last fetched "
          "from the address it last reported from; every other machine counts in main.</p>";
  body += "<h2>Published builds</h2><table>" + HeadRow({"Version", "Served to"});
  for (const std::string& build : builds) {
    std::string to;
    for (const std::string& ring : rings) {
      if (site.RingVersion(ring) == build) to += (to.empty() ? "" : ", ") + Html(ring);
    }
    body += Row({Html(build), to});
  }
  if (builds.empty()) body += "<tr><td colspan=\"2\" class=\"muted\">None yet.</td></tr>";
  body += "</table>";
  if (r.Allows(Role::kAdministrator)) {
    body += "<h2>Publish a build</h2><p>The executable and its minisign signature; the build goes "
            "to the first ring (" + Html(rings.front()) + ").</p>" +
            PostForm(r, "/console/updates/publish", true, "stack") +
            "<label>Executable <input type=\"file\" name=\"build\" required></label>"
            "<label>Signature (.minisig) <input type=\"file\" name=\"signature\" required></label>"
            "<button type=\"submit\">Publish</button></form>";
    if (!builds.empty()) {
      body += "<h2>Promote a build</h2>" + PostForm(r, "/console/updates/promote", false, "filters") +
              "<label>Build " + Select("version", builds) + "</label><label>to the ring " +
              Select("ring", rings) + "</label><button type=\"submit\">Promote</button></form>";
    }
  }
  ReplyPage(reply, r, "Updates", body);
}

void Publish(const PageRequest& r, HttpServerReply& reply, ConsoleContext& context) {
  const auto build = r.form.files.find("build");
  const auto signature = r.form.files.find("signature");
  if (build == r.form.files.end() || signature == r.form.files.end() || build->second.data.empty()) {
    throw PageError(400, "Publishing needs the executable and its signature.");
  }
  std::string version;
  try {
    version = context.site.PublishBytes(build->second.filename, build->second.data,
                                        signature->second.data);
  } catch (const UpdateSiteError& e) {
    throw PageError(400, e.what());
  } catch (const SignatureError& e) {
    throw PageError(400, std::string("update_key: ") + e.what());
  }
  Redirect(reply, "/console/updates?notice=" + UrlEncode("Published " + version + " to the ring " +
                                                         context.site.Rings().front() + "."));
}

void Promote(const PageRequest& r, HttpServerReply& reply, ConsoleContext& context) {
  const std::string version = r.Param("version");
  const std::string ring = r.Param("ring");
  try {
    context.site.Promote(version, ring);
  } catch (const UpdateSiteError& e) {
    throw PageError(400, e.what());
  }
  Redirect(reply, "/console/updates?notice=" + UrlEncode("The ring " + ring + " serves " + version + "."));
}

}  // namespace

// The rollouts: each ring's state, and why a halted one halted.
std::string RolloutStatusSection(const PageRequest& request, ConsoleContext& context) {
  return RolloutSection(request, context.site);
}

void AddUpdatePages(Console& console, ConsoleContext& context) {
  console.AddPage("GET", "/console/updates", Role::kViewer,
                  [&context](const PageRequest& r, HttpServerReply& reply) { UpdatesPage(r, reply, context); });
  console.AddPage("POST", "/console/updates/publish", Role::kAdministrator,
                  [&context](const PageRequest& r, HttpServerReply& reply) { Publish(r, reply, context); });
  console.AddPage("POST", "/console/updates/promote", Role::kAdministrator,
                  [&context](const PageRequest& r, HttpServerReply& reply) { Promote(r, reply, context); });
}

}  // namespace quarrin
