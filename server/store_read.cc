// What the read API shows: the machine list and one machine.
#include "platform/text/ascii.h"
#include "server/json.h"
#include "server/machine_identity.h"
#include "server/sql_conditions.h"
#include "server/store.h"

namespace quarrin {

namespace {

// Instants in UTC; the agent's own date-times (no zone) as written.
constexpr char kInstant[] = "to_char(%s AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";
constexpr char kLocal[] = "to_char(%s, 'YYYY-MM-DD\"T\"HH24:MI:SS')";

std::string As(const char* pattern, const std::string& column) {
  std::string text = pattern;
  text.replace(text.find("%s"), 2, column);
  return text;
}

std::vector<std::string> Texts(const std::array<int32_t, 4>& v) {
  return {std::to_string(v[0]), std::to_string(v[1]), std::to_string(v[2]), std::to_string(v[3])};
}

}  // namespace

std::vector<MachineSummary> InventoryStore::ListMachines(const MachineFilter& filter) {
  PgParams params;
  Conditions where(&params);
  if (!filter.name_prefix.empty()) {
    where.Add("starts_with(m.name_key, $?)", UpperAscii(filter.name_prefix));
  }
  if (!filter.after.empty()) where.Add("m.name_key > $?", filter.after);
  if (!filter.product_name.empty()) where.Add("m.product_name = $?", filter.product_name);
  if (filter.silent_days) {
    where.Add("m.last_seen < now() - make_interval(days => $?::integer)",
              std::to_string(*filter.silent_days));
  }
  if (!filter.application.empty()) {
    std::string exists =
        "EXISTS (SELECT 1 FROM machine_applications a WHERE a.machine_id = m.id"
        " AND a.gone IS NULL AND a.application = $?";
    std::vector<std::string> values = {filter.application};
    if (filter.version_at_most) {
      exists += " AND (a.v_major, a.v_minor, a.v_release, a.v_build) <= ($?, $?, $?, $?)";
      for (const std::string& t : Texts(*filter.version_at_most)) values.push_back(t);
    }
    if (filter.version_at_least) {
      exists += " AND (a.v_major, a.v_minor, a.v_release, a.v_build) >= ($?, $?, $?, $?)";
      for (const std::string& t : Texts(*filter.version_at_least)) values.push_back(t);
    }
    where.AddMany(exists + ")", values);
  }
  params.push_back(std::to_string(filter.limit));
  const std::string sql = "SELECT m.name_key, m.machine_name, coalesce(m.product_name, ''), " +
                          As(kInstant, "m.last_seen") + " FROM machines m" + where.text() +
                          " ORDER BY m.name_key LIMIT $" + std::to_string(params.size());
  PgPool::Lease session = pool_.Acquire();
  PgResult rows = session->Exec(sql, params);
  std::vector<MachineSummary> out;
  for (int r = 0; r < rows.rows(); ++r) {
    out.push_back({rows.Text(r, 0), rows.Text(r, 1), rows.Text(r, 2), rows.Text(r, 3)});
  }
  return out;
}

std::optional<std::string> InventoryStore::MachineJson(const std::string& machine_name,
                                                      int history_limit) {
  const std::string key = MachineKey(machine_name);
  if (key.empty()) return std::nullopt;
  PgPool::Lease session = pool_.Acquire();
  // One snapshot for the several reads.
  PgTransaction tx(*session);
  tx.Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
  struct Field {
    const char* json;
    std::string sql;
  };
  const std::vector<Field> details = {
      {"MachineName", "machine_name"},
      {"LastLogin", "last_login"},
      {"RegisteredOwner", "registered_owner"},
      {"RegisteredOrganisation", "registered_organisation"},
      {"CPUSpeed", "cpu_speed::text"},
      {"CPUId", "cpu_id"},
      {"CPUName", "cpu_name"},
      {"CurrentVersion", "current_version"},
      {"TotCPU", "tot_cpu::text"},
      {"ProductID", "product_id"},
      {"ProductName", "product_name"},
      {"ServicePack", "service_pack"},
      {"SourcePath", "source_path"},
      {"IEVersion", "ie_version"},
      {"PhysicalMemory", "physical_memory"},
      {"VMWare", "vmware::text"},
      {"InstallDate", As(kLocal, "install_date")},
      {"NBNodeType", "nb_node_type::text"},
  };
  const std::vector<Field> attributes = {
      {"AquisitionDate", As(kLocal, "acquisition_date")},
      {"Comments", "comments"},
      {"SerialNo", "serial_no"},
  };
  const std::vector<Field> times = {
      {"first_seen", As(kInstant, "first_seen")},
      {"last_seen", As(kInstant, "last_seen")},
      {"details_reported", As(kInstant, "details_reported")},
      {"attributes_reported", As(kInstant, "attributes_reported")},
      {"applications_reported",
       As(kInstant, "coalesce(apps_report_last_call, apps_reported)")},
  };
  std::string select = "SELECT id, name_key";
  for (const auto* group : {&details, &attributes, &times}) {
    for (const Field& f : *group) select += ", " + f.sql;
  }
  PgResult m = tx.Exec(select + " FROM machines WHERE name_key = $1", {key});
  if (m.rows() == 0) return std::nullopt;
  const std::string id = m.Text(0, 0);
  int column = 2;
  const auto object = [&](const std::vector<Field>& fields) {
    std::string out = "{";
    for (const Field& f : fields) {
      if (out.size() > 1) out += ",";
      out += JsonString(f.json) + ":" + JsonStringOrNull(m.Optional(0, column++));
    }
    return out + "}";
  };
  std::string json = "{\"key\":" + JsonString(m.Text(0, 1));
  json += ",\"details\":" + object(details);
  json += ",\"attributes\":" + object(attributes);
  for (const Field& f : times) {
    json += "," + JsonString(f.json) + ":" + JsonStringOrNull(m.Optional(0, column++));
  }

  PgResult asset = tx.Exec(
      "SELECT service_tag, to_char(acquisition_date, 'YYYY-MM-DD') FROM assets WHERE name_key = $1",
      {key});
  json += ",\"asset\":";
  json += asset.rows() == 0 ? "null"
                            : "{\"service_tag\":" + JsonString(asset.Text(0, 0)) +
                                  ",\"acquisition_date\":" + JsonStringOrNull(asset.Optional(0, 1)) +
                                  "}";

  PgResult apps = tx.Exec(
      "SELECT a.application, a.path, a.version, " + As(kInstant, "a.first_seen") + ", " +
          As(kInstant, "CASE WHEN a.gone IS NULL THEN coalesce(m.apps_report_last_call,"
                       " m.apps_reported, a.changed) ELSE a.last_seen END") +
          ", " + As(kInstant, "a.gone") +
          " FROM machine_applications a JOIN machines m ON m.id = a.machine_id"
          " WHERE a.machine_id = $1 ORDER BY a.application",
      {id});
  json += ",\"applications\":[";
  for (int r = 0; r < apps.rows(); ++r) {
    if (r > 0) json += ",";
    json += "{\"application\":" + JsonString(apps.Text(r, 0)) +
            ",\"path\":" + JsonString(apps.Text(r, 1)) +
            ",\"version\":" + JsonString(apps.Text(r, 2)) +
            ",\"first_seen\":" + JsonStringOrNull(apps.Optional(r, 3)) +
            ",\"last_seen\":" + JsonStringOrNull(apps.Optional(r, 4)) +
            ",\"gone\":" + JsonStringOrNull(apps.Optional(r, 5)) + "}";
  }
  json += "]";

  PgResult changes = tx.Exec(
      "SELECT " + As(kInstant, "changed") +
          ", kind, item, old_value, new_value FROM machine_changes"
          " WHERE machine_id = $1 ORDER BY changed DESC, id DESC LIMIT $2",
      {id, std::to_string(history_limit)});
  json += ",\"history\":[";
  for (int r = 0; r < changes.rows(); ++r) {
    if (r > 0) json += ",";
    json += "{\"time\":" + JsonString(changes.Text(r, 0)) +
            ",\"kind\":" + JsonString(changes.Text(r, 1)) +
            ",\"item\":" + JsonString(changes.Text(r, 2)) +
            ",\"old\":" + JsonStringOrNull(changes.Optional(r, 3)) +
            ",\"new\":" + JsonStringOrNull(changes.Optional(r, 4)) + "}";
  }
  json += "]";

  PgResult events = tx.Exec(
      "SELECT " + As(kInstant, "received") +
          ", host(sender), facility::text, severity::text, code, message FROM events"
          " WHERE machine_id = $1 ORDER BY received DESC, id DESC LIMIT $2",
      {id, std::to_string(history_limit)});
  json += ",\"events\":[";
  for (int r = 0; r < events.rows(); ++r) {
    if (r > 0) json += ",";
    json += "{\"received\":" + JsonString(events.Text(r, 0)) +
            ",\"sender\":" + JsonString(events.Text(r, 1)) +
            ",\"facility\":" + JsonStringOrNull(events.Optional(r, 2)) +
            ",\"severity\":" + JsonStringOrNull(events.Optional(r, 3)) +
            ",\"code\":" + JsonStringOrNull(events.Optional(r, 4)) +
            ",\"message\":" + JsonString(events.Text(r, 5)) + "}";
  }
  json += "]}";
  tx.Commit();
  return json;
}

std::array<int64_t, 3> InventoryStore::RowCounts() {
  PgPool::Lease session = pool_.Acquire();
  PgResult r = session->Exec(
      "SELECT (SELECT count(*) FROM machines), (SELECT count(*) FROM machine_applications),"
      " (SELECT count(*) FROM machine_changes)");
  return {r.Int64(0, 0), r.Int64(0, 1), r.Int64(0, 2)};
}

}  // namespace quarrin
