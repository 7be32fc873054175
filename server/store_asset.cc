// The asset register.
#include "server/machine_identity.h"
#include "server/store.h"

namespace quarrin {

void InventoryStore::PutAssets(const std::vector<AssetRecord>& records) {
  for (const AssetRecord& r : records) {
    if (MachineKey(r.machine_name).empty()) throw StoreRejected("an asset names no machine");
    if (!r.acquisition_date.empty() && !IsIsoDate(r.acquisition_date)) {
      throw StoreRejected("acquisition date '" + r.acquisition_date + "' is not yyyy-mm-dd");
    }
  }
  RunTransaction(pool_, [&](PgTransaction& tx) {
    for (const AssetRecord& r : records) {
      tx.Exec(
          "INSERT INTO assets (name_key, machine_name, service_tag, acquisition_date, updated)"
          " VALUES ($1, $2, $3, $4::date, now())"
          " ON CONFLICT (name_key) DO UPDATE SET machine_name = excluded.machine_name,"
          " service_tag = excluded.service_tag, acquisition_date = excluded.acquisition_date,"
          " updated = now()",
          {MachineKey(r.machine_name), r.machine_name, r.service_tag,
           r.acquisition_date.empty() ? std::nullopt
                                      : std::optional<std::string>(r.acquisition_date)});
    }
  });
}

std::optional<AssetRecord> InventoryStore::FindAsset(const std::string& machine_name) {
  const std::string key = MachineKey(machine_name);
  if (key.empty()) return std::nullopt;
  PgPool::Lease session = pool_.Acquire();
  PgResult row = session->Exec(
      "SELECT machine_name, service_tag, coalesce(to_char(acquisition_date, 'YYYY-MM-DD'), '')"
      " FROM assets WHERE name_key = $1",
      {key});
  if (row.rows() == 0) return std::nullopt;
  return AssetRecord{row.Text(0, 0), row.Text(0, 1), row.Text(0, 2)};
}

}  // namespace quarrin
