// Applications: one call per installed application, and the end of a report.
#include "server/machine_identity.h"
#include "server/store.h"
#include "server/store_internal.h"

namespace quarrin {

namespace {

// Marks gone every present application of the machine that its report
// under way did not name, and closes the report. The gone time is the
// report's start; the last-seen time the end of the report before it.
constexpr char kMarkGone[] =
    "WITH m AS (SELECT id, apps_report_started, apps_reported, apps_report_seen"
    "           FROM machines WHERE id = $1),"
    " went AS (UPDATE machine_applications a"
    "          SET gone = m.apps_report_started,"
    "              last_seen = coalesce(m.apps_reported, a.changed)"
    "          FROM m"
    "          WHERE a.machine_id = m.id AND a.gone IS NULL"
    "            AND NOT (a.application = ANY (m.apps_report_seen))"
    "          RETURNING a.machine_id, a.application, a.version, a.gone)"
    " INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)"
    " SELECT machine_id, gone, 'application', application, version, NULL FROM went";

constexpr char kCloseReport[] =
    "UPDATE machines SET apps_reported = apps_report_last_call, apps_report_started = NULL,"
    " apps_report_last_call = NULL, apps_report_seen = NULL WHERE id = $1";

void CloseReport(PgTransaction& tx, int64_t machine_id) {
  const std::string id = std::to_string(machine_id);
  tx.Exec(kMarkGone, {id});
  tx.Exec(kCloseReport, {id});
}

std::optional<std::string> Number(const std::optional<std::array<int32_t, 4>>& v, int i) {
  if (!v) return std::nullopt;
  return std::to_string((*v)[static_cast<size_t>(i)]);
}

}  // namespace

void InventoryStore::PutApplication(const tApplicationDetails& app, const std::string& sender) {
  const std::string key = MachineKey(app.MachineName);
  if (key.empty()) throw StoreRejected("the report names no machine (MachineName is empty)");
  if (app.Application.empty()) throw StoreRejected("the report names no application");
  const std::optional<std::array<int32_t, 4>> numbers = VersionNumbers(app.Version);
  const std::string quiet = std::to_string(quiet_.count()) + " seconds";
  RunTransaction(pool_, [&](PgTransaction& tx) {
    bool created = false;
    const int64_t id = store::LockMachine(tx, key, app.MachineName, sender, &created);
    const std::string id_text = std::to_string(id);
    PgResult report = tx.Exec(
        "SELECT apps_report_last_call IS NOT NULL,"
        " apps_report_last_call < now() - $2::interval"
        " FROM machines WHERE id = $1",
        {id_text, quiet});
    const bool open = report.Bool(0, 0);
    if (open && report.Bool(0, 1)) CloseReport(tx, id);
    if (!open || report.Bool(0, 1)) {
      tx.Exec(
          "UPDATE machines SET apps_report_started = now(), apps_report_seen = '{}'"
          " WHERE id = $1",
          {id_text});
    }
    tx.Exec(
        "UPDATE machines SET last_seen = now(), apps_report_last_call = now(),"
        " apps_report_seen = CASE WHEN $2 = ANY (apps_report_seen) THEN apps_report_seen"
        "                    ELSE array_append(apps_report_seen, $2) END"
        " WHERE id = $1",
        {id_text, app.Application});

    PgResult held = tx.Exec(
        "SELECT path, version, gone IS NOT NULL FROM machine_applications"
        " WHERE machine_id = $1 AND application = $2 FOR UPDATE",
        {id_text, app.Application});
    const PgParams values = {id_text,          app.Application,  app.Path,
                             app.Version,      Number(numbers, 0), Number(numbers, 1),
                             Number(numbers, 2), Number(numbers, 3)};
    if (held.rows() == 0) {
      tx.Exec(
          "INSERT INTO machine_applications (machine_id, application, path, version,"
          " v_major, v_minor, v_release, v_build, first_seen, changed)"
          " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, now(), now())",
          values);
      store::RecordChange(tx, id, "application", app.Application, std::nullopt, app.Version);
      return;
    }
    const std::string old_path = held.Text(0, 0);
    const std::string old_version = held.Text(0, 1);
    const bool was_gone = held.Bool(0, 2);
    if (!was_gone && old_path == app.Path && old_version == app.Version) return;
    tx.Exec(
        "UPDATE machine_applications SET path = $3, version = $4, v_major = $5, v_minor = $6,"
        " v_release = $7, v_build = $8, changed = now(), gone = NULL, last_seen = NULL"
        " WHERE machine_id = $1 AND application = $2",
        values);
    if (was_gone || old_version != app.Version) {
      store::RecordChange(tx, id, "application", app.Application,
                          was_gone ? std::nullopt : std::optional<std::string>(old_version),
                          app.Version);
    }
    if (old_path != app.Path) {
      store::RecordChange(tx, id, "application", app.Application + ".Path", old_path, app.Path);
    }
  });
}

int InventoryStore::CloseQuietReports(int batch) {
  int closed = 0;
  const std::string quiet = std::to_string(quiet_.count()) + " seconds";
  RunTransaction(pool_, [&](PgTransaction& tx) {
    closed = 0;
    PgResult quiet_ones = tx.Exec(
        "SELECT id FROM machines WHERE apps_report_last_call < now() - $1::interval"
        " ORDER BY apps_report_last_call LIMIT $2 FOR UPDATE SKIP LOCKED",
        {quiet, std::to_string(batch)});
    for (int r = 0; r < quiet_ones.rows(); ++r) {
      CloseReport(tx, quiet_ones.Int64(r, 0));
      ++closed;
    }
  });
  return closed;
}

}  // namespace quarrin
