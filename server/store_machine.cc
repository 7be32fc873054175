// Machines: the details and attributes reports.
#include <functional>
#include <vector>

#include "server/machine_identity.h"
#include "server/store.h"
#include "server/store_internal.h"

namespace quarrin {

namespace store {

PgParams MachineParams(const std::string& machine_name, const std::string& sender) {
  const std::string key = MachineKey(machine_name);
  if (key.empty()) throw StoreRejected("the report names no machine (MachineName is empty)");
  return {key, machine_name, sender.empty() ? std::nullopt : std::optional<std::string>(sender)};
}

std::optional<std::string> TimestampValue(DateTime t) {
  if (t.days == 0.0) return std::nullopt;
  std::string text = SoapDateTimeText(t);
  text.pop_back();  // the "Z": the agent's date-times are its local ones
  return text;
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

// The report's columns, their names in the report and their types, as
// array parameters; the same for every call of a kind.
template <typename T>
struct ColumnArrays {
  explicit ColumnArrays(const std::vector<Column<T>>& columns) {
    std::vector<std::optional<std::string>> names, items, types;
    for (const Column<T>& c : columns) {
      names.push_back(c.column);
      items.push_back(c.item);
      types.push_back(c.type);
    }
    column = PgTextArray(names);
    item = PgTextArray(items);
    type = PgTextArray(types);
  }
  std::string column, item, type;
};

// Hands a report to the database, which compares it with the machine's row
// and writes the columns that differ, a change row for each (none on the
// machine's first report of the kind), and the time of the report.
template <typename T>
void PutColumns(PgPool& pool, const std::string& machine_name, const std::string& sender,
                const T& record, const std::vector<Column<T>>& columns,
                const ColumnArrays<T>& arrays, const char* kind) {
  PgParams params = store::MachineParams(machine_name, sender);
  std::vector<std::optional<std::string>> values;
  values.reserve(columns.size());
  for (const Column<T>& c : columns) values.push_back(c.value(record));
  params.insert(params.begin(), kind);
  params.insert(params.end(), {arrays.column, arrays.item, arrays.type, PgTextArray(values)});
  RunStatement(pool,
               "SELECT quarrin_put_columns($1, $2, $3, $4::inet, $5::text[], $6::text[],"
               " $7::text[], $8::text[])",
               params);
}

}  // namespace

void InventoryStore::PutDetails(const tPCDetails& details, const std::string& sender) {
  static const ColumnArrays<tPCDetails> arrays(DetailColumns());
  PutColumns(pool_, details.MachineName, sender, details, DetailColumns(), arrays, "detail");
}

void InventoryStore::PutAttributes(const tPCDetails2& attributes, const std::string& sender) {
  static const ColumnArrays<tPCDetails2> arrays(AttributeColumns());
  PutColumns(pool_, attributes.MachineName, sender, attributes, AttributeColumns(), arrays,
             "attribute");
}

}  // namespace quarrin
