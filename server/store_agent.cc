// What the server needs to reach a machine's agent and to know its ring.
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

void InventoryStore::NoteUpdateRing(const std::string& address, const std::string& ring) {
  PgPool::Lease session = pool_.Acquire();
  // Only a change is written: agents fetch their manifest at every start
  // and every day.
  session->Exec(
      "UPDATE machines SET update_ring = $2 WHERE last_address = $1::inet"
      " AND update_ring IS DISTINCT FROM $2",
      {address, ring});
}

}  // namespace quarrin
