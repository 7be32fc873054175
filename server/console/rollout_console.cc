// The rollouts' part of the Updates page, and resuming a halted one.
#include "server/console/agent_console.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/view.h"
#include "server/rollout_guard.h"

namespace quarrin {

std::string RolloutSection(const PageRequest& r, const UpdateSite& site) {
  std::string out = "<section id=\"rollouts\"><h2>Rollouts</h2><table>" +
                    HeadRow({"Ring", "Given", "Offered", "State"});
  for (const std::string& ring : site.Rings()) {
    const std::optional<RingHalt> halt = site.Halted(ring);
    std::string state = "<td" + std::string(halt ? " class=\"failed\"" : "") + ">" +
                        Html(RolloutStateText(site, ring));
    if (halt && r.Allows(Role::kAdministrator)) {
      state += PostForm(r, "/console/updates/resume") + "<input type=\"hidden\" name=\"ring\" value=\"" +
               Html(ring) + "\"><button type=\"submit\">Resume " + Html(halt->version) +
               "</button></form>";
    }
    out += Row({Html(ring), Html(site.RingVersion(ring).value_or("none")),
                Html(site.ServedVersion(ring).value_or("none")), state + "</td>"});
  }
  return out + "</table><p class=\"muted\">A rollout halts by itself when machines that took "
               "its build log update failures or go silent; a halted ring offers the build it "
               "had before until it is resumed.</p></section>\n";
}

void AddRolloutPages(Console& console, UpdateSite& site) {
  console.AddPage("POST", "/console/updates/resume", Role::kAdministrator,
                  [&site](const PageRequest& r, HttpServerReply& reply) {
    try {
      site.Resume(r.Param("ring"));
    } catch (const UpdateSiteError& e) {
      throw PageError(409, e.what());
    }
    Redirect(reply, "/console/updates");
  });
}

}  // namespace quarrin
