// Machines: the details and attributes reports.
#include <functional>
#include <vector>

#include "server/machine_identity.h"
#include "server/store.h"
#include "server/store_internal.h"

namespace quarrin {

namespace store {

int64_t LockMachine(PgTransaction& tx, const std::string& key, const std::string& name,
                    const std::string& sender, bool* created) {
  PgResult inserted = tx.Exec(
      "INSERT INTO machines (name_key, machine_name, first_seen, last_seen)"
      " VALUES ($1, $2, now(), now()) ON CONFLICT (name_key) DO NOTHING RETURNING id",
      {key, name});
  *created = inserted.rows() == 1;
  int64_t id = 0;
  if (*created) {
    id = inserted.Int64(0, 0);
    RecordChange(tx, id, "machine", "first report", std::nullopt, name);
  } else {
    id = tx.Exec("SELECT id FROM machines WHERE name_key = $1 FOR UPDATE", {key}).Int64(0, 0);
  }
  if (!sender.empty()) {
    const PgResult moved = tx.Exec(
        "UPDATE machines SET last_address = $2::inet"
        " WHERE id = $1 AND last_address IS DISTINCT FROM $2::inet",
        {std::to_string(id), sender});
    // The agent's first datagrams ("execute") come before its first report.
    if (moved.affected() == 1) {
      tx.Exec(
          "UPDATE events SET machine_id = $1 WHERE machine_id IS NULL AND sender = $2::inet"
          " AND received > now() - interval '1 day'",
          {std::to_string(id), sender});
    }
  }
  return id;
}

std::optional<std::string> TimestampValue(DateTime t) {
  if (t.days == 0.0) return std::nullopt;
  std::string text = SoapDateTimeText(t);
  text.pop_back();  // the "Z": the agent's date-times are its local ones
  return text;
}

void RecordChange(PgTransaction& tx, int64_t machine_id, const char* kind, const std::string& item,
                  const std::optional<std::string>& old_value,
                  const std::optional<std::string>& new_value) {
  tx.Exec(
      "INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)"
      " VALUES ($1, now(), $2, $3, $4, $5)",
      {std::to_string(machine_id), kind, item, old_value, new_value});
}

}  // namespace store

namespace {

// One column of a report: its name in the table and in the contract, its
// SQL type, and its value in a record of type T as the database writes it
// back as text.
template <typename T>
struct Column {
  const char* column;
  const char* item;
  const char* type;  // "text", "integer", "boolean", "timestamp"
  std::function<std::optional<std::string>(const T&)> value;
};

std::optional<std::string> Int(int32_t n) { return std::to_string(n); }
std::optional<std::string> Bool(bool b) { return std::string(b ? "true" : "false"); }

const std::vector<Column<tPCDetails>>& DetailColumns() {
  using D = tPCDetails;
  static const std::vector<Column<D>> columns = {
      {"last_login", "LastLogin", "text", [](const D& d) { return d.LastLogin; }},
      {"registered_owner", "RegisteredOwner", "text", [](const D& d) { return d.RegisteredOwner; }},
      {"registered_organisation", "RegisteredOrganisation", "text",
       [](const D& d) { return d.RegisteredOrganisation; }},
      {"cpu_speed", "CPUSpeed", "integer", [](const D& d) { return Int(d.CPUSpeed); }},
      {"cpu_id", "CPUId", "text", [](const D& d) { return d.CPUId; }},
      {"cpu_name", "CPUName", "text", [](const D& d) { return d.CPUName; }},
      {"current_version", "CurrentVersion", "text", [](const D& d) { return d.CurrentVersion; }},
      {"tot_cpu", "TotCPU", "integer", [](const D& d) { return Int(d.TotCPU); }},
      {"product_id", "ProductID", "text", [](const D& d) { return d.ProductID; }},
      {"product_name", "ProductName", "text", [](const D& d) { return d.ProductName; }},
      {"service_pack", "ServicePack", "text", [](const D& d) { return d.ServicePack; }},
      {"source_path", "SourcePath", "text", [](const D& d) { return d.SourcePath; }},
      {"ie_version", "IEVersion", "text", [](const D& d) { return d.IEVersion; }},
      {"physical_memory", "PhysicalMemory", "text", [](const D& d) { return d.PhysicalMemory; }},
      {"vmware", "VMWare", "boolean", [](const D& d) { return Bool(d.VMWare); }},
      {"install_date", "InstallDate", "timestamp",
       [](const D& d) { return store::TimestampValue(d.InstallDate); }},
      {"nb_node_type", "NBNodeType", "integer", [](const D& d) { return Int(d.NBNodeType); }},
  };
  return columns;
}

const std::vector<Column<tPCDetails2>>& AttributeColumns() {
  using A = tPCDetails2;
  static const std::vector<Column<A>> columns = {
      {"acquisition_date", "AquisitionDate", "timestamp",
       [](const A& a) { return store::TimestampValue(a.AquisitionDate); }},
      {"comments", "Comments", "text", [](const A& a) { return a.Comments; }},
      {"serial_no", "SerialNo", "text", [](const A& a) { return a.SerialNo; }},
  };
  return columns;
}

std::string ReadBack(const char* column, const char* type) {
  if (std::string_view(type) == "timestamp") {
    std::string text = store::kTimestampText;
    text.replace(text.find("%s"), 2, column);
    return text;
  }
  return std::string(column) + "::text";
}

// Compares a report with the machine's row and writes the columns that
// differ, a change row for each (none on the machine's first report), and
// the time of the report in `reported_column`.
template <typename T>
void PutColumns(PgPool& pool, const std::string& machine_name, const std::string& sender,
                const T& record,
                const std::vector<Column<T>>& columns, const char* kind,
                const char* reported_column) {
  const std::string key = MachineKey(machine_name);
  if (key.empty()) throw StoreRejected("the report names no machine (MachineName is empty)");
  RunTransaction(pool, [&](PgTransaction& tx) {
    bool created = false;
    const int64_t id = store::LockMachine(tx, key, machine_name, sender, &created);
    std::string select = "SELECT machine_name, " + std::string(reported_column) + " IS NULL";
    for (const Column<T>& c : columns) select += ", " + ReadBack(c.column, c.type);
    select += " FROM machines WHERE id = $1";
    PgResult old = tx.Exec(select, {std::to_string(id)});
    const bool first = created || old.Bool(0, 1);

    PgParams params = {std::to_string(id), machine_name};
    std::string update = "UPDATE machines SET last_seen = now(), " + std::string(reported_column) +
                         " = now(), machine_name = $2";
    for (size_t i = 0; i < columns.size(); ++i) {
      const Column<T>& c = columns[i];
      const std::optional<std::string> now_value = c.value(record);
      const std::optional<std::string> was = old.Optional(0, static_cast<int>(i) + 2);
      if (now_value == was) continue;
      params.push_back(now_value);
      update += ", " + std::string(c.column) + " = $" + std::to_string(params.size()) +
                "::" + c.type;
      if (!first) store::RecordChange(tx, id, kind, c.item, was, now_value);
    }
    tx.Exec(update + " WHERE id = $1", params);
  });
}

}  // namespace

void InventoryStore::PutDetails(const tPCDetails& details, const std::string& sender) {
  PutColumns(pool_, details.MachineName, sender, details, DetailColumns(), "detail",
             "details_reported");
}

void InventoryStore::PutAttributes(const tPCDetails2& attributes, const std::string& sender) {
  PutColumns(pool_, attributes.MachineName, sender, attributes, AttributeColumns(), "attribute",
             "attributes_reported");
}

}  // namespace quarrin
