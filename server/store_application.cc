// Applications: one call per installed application, and the end of a report.
// The database does the work (migration V003), one statement a call.
#include "server/machine_identity.h"
#include "server/store.h"
#include "server/store_internal.h"

namespace quarrin {

namespace {

std::optional<std::string> Number(const std::optional<std::array<int32_t, 4>>& v, int i) {
  if (!v) return std::nullopt;
  return std::to_string((*v)[static_cast<size_t>(i)]);
}

std::string Seconds(std::chrono::seconds s) { return std::to_string(s.count()) + " seconds"; }

}  // namespace

void InventoryStore::PutApplication(const tApplicationDetails& app, const std::string& sender) {
  PgParams params = store::MachineParams(app.MachineName, sender);
  if (app.Application.empty()) throw StoreRejected("the report names no application");
  const std::optional<std::array<int32_t, 4>> numbers = VersionNumbers(app.Version);
  params.insert(params.end(), {Seconds(quiet_), app.Application, app.Path, app.Version,
                               Number(numbers, 0), Number(numbers, 1), Number(numbers, 2),
                               Number(numbers, 3)});
  RunStatement(pool_,
               "SELECT quarrin_put_application($1, $2, $3::inet, $4::interval, $5, $6, $7,"
               " $8::integer, $9::integer, $10::integer, $11::integer)",
               params);
}

int InventoryStore::CloseQuietReports(int batch) {
  const PgResult closed = RunStatement(
      pool_,
      "SELECT quarrin_close_report(id) FROM ("
      " SELECT id FROM machines WHERE apps_report_last_call < now() - $1::interval"
      " ORDER BY apps_report_last_call LIMIT $2 FOR UPDATE SKIP LOCKED) quiet",
      {Seconds(quiet_), std::to_string(batch)});
  return closed.rows();
}

}  // namespace quarrin
