#include "server/console/machine_page.h"

#include "server/console/agent_console.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/machine_identity.h"

namespace quarrin {

std::string MachinePath(const std::string& key) { return "/console/machines/" + UrlEncode(key); }

std::vector<MachineSection> MachineSections() {
  return {DetailsSection, AgentSection, ActionsSection, ApplicationsSection, HistorySection,
          EventsSection};
}

void AddMachinePages(Console& console, ConsoleContext& context) {
  const std::vector<MachineSection> sections = MachineSections();
  console.AddPage("GET", "/console/machines/", Role::kViewer,
                  [&context, sections](const PageRequest& r, HttpServerReply& reply) {
    const std::string key = MachineKey(r.rest);
    if (key.empty()) throw PageError(404, "No machine name in the path.");
    PgPool::Lease session = context.pool.Acquire();
    PgTransaction tx(*session);
    tx.Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
    PgResult m = tx.Exec(
        "SELECT id, name_key, machine_name, coalesce(host(last_address), '')"
        " FROM machines WHERE name_key = $1",
        {key});
    if (m.rows() == 0) throw PageError(404, "The server knows no machine " + key + ".");
    const MachineView machine{m.Int64(0, 0), m.Text(0, 1), m.Text(0, 2), m.Text(0, 3)};
    const MachineSectionInput in{r, machine, tx, context};
    std::string body;
    for (const MachineSection& section : sections) body += section(in);
    tx.Commit();
    ReplyPage(reply, r, machine.machine_name, body);
  });
}

}  // namespace quarrin
