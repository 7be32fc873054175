// What the server needs to reach a machine's agent.
#include "server/machine_identity.h"
#include "server/store.h"

namespace quarrin {

std::optional<InventoryStore::Reachable> InventoryStore::MachineAddress(
    const std::string& machine_name) {
  const std::string key = MachineKey(machine_name);
  if (key.empty()) return std::nullopt;
  PgPool::Lease session = pool_.Acquire();
  const PgResult r = session->Exec(
      "SELECT machine_name, coalesce(host(last_address), '') FROM machines WHERE name_key = $1",
      {key});
  if (r.rows() == 0) return std::nullopt;
  return Reachable{r.Text(0, 0), r.Text(0, 1)};
}

}  // namespace quarrin
