// The fleet's inventory in the database: machines with their latest details
// and attributes, their applications, what changed and when, and the asset
// register. Every call is one transaction (RunTransaction), so a report is
// stored whole or not at all.
//
// Only what changed is written. A report whose values the server holds
// already moves the machine's last-seen time and writes nothing else: no
// change row, no application row.
//
// Applications. The agent sends one call per installed application and no
// call for one that is not installed, and nothing marks the end of its run.
// A run of application calls from one machine is one report; it ends when
// no further call of that machine has come for the quiet period. At its end
// every application of the machine that the report did not name is marked
// gone (with the time the report began), never deleted; one that a later
// report names again is present again. The report's end is noticed by the
// next application call of the machine or by CloseQuietReports, which the
// server runs every few seconds. A report that repeats an application (the
// on-demand reports) counts it once.
#ifndef QUARRIN_SERVER_STORE_H_
#define QUARRIN_SERVER_STORE_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "inventory/pc_details.h"
#include "report/inventory_service.h"
#include "server/assets.h"
#include "server/pg_pool.h"

namespace quarrin {

// A report the store cannot take, for a reason of its content (no machine
// name). Failures of the database are PgError.
class StoreRejected : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A filter of the machine list; every condition set must hold.
struct MachineFilter {
  std::string name_prefix;   // of the machine's key (upper case)
  std::string application;   // present on the machine
  std::optional<std::array<int32_t, 4>> version_at_most;   // of that application
  std::optional<std::array<int32_t, 4>> version_at_least;  // of that application
  std::string product_name;  // operating-system edition, exactly
  std::optional<int> silent_days;  // last seen more than this many days ago
  std::string after;         // keys after this one (paging)
  int limit = 100;
};

struct MachineSummary {
  std::string key;
  std::string machine_name;
  std::string product_name;
  std::string last_seen;  // ISO 8601, UTC
};

// Safe for concurrent use by multiple threads.
class InventoryStore {
 public:
  InventoryStore(PgPool& pool, std::chrono::seconds report_quiet_period)
      : pool_(pool), quiet_(report_quiet_period) {}

  // `sender` is the address the report came from (empty: unknown); the
  // machine's last one tells whose syslog datagrams are whose.
  void PutDetails(const tPCDetails& details, const std::string& sender = "");
  void PutAttributes(const tPCDetails2& attributes, const std::string& sender = "");
  void PutApplication(const tApplicationDetails& application, const std::string& sender = "");
  // Ends the reports of applications that have been quiet for the quiet
  // period, at most `batch` of them; returns how many it ended.
  int CloseQuietReports(int batch = 100);

  // Adds or replaces register entries, all in one transaction.
  void PutAssets(const std::vector<AssetRecord>& records);
  // The entry of a machine name (with or without domain suffix, any case).
  std::optional<AssetRecord> FindAsset(const std::string& machine_name);

  // The machines the filter lets through, by key, at most filter.limit.
  std::vector<MachineSummary> ListMachines(const MachineFilter& filter);
  // One machine as a JSON object (details, attributes, asset, applications,
  // history and events, the latest `history_limit` of each); nullopt when
  // the server has none of that name (with or without domain suffix, any case).
  std::optional<std::string> MachineJson(const std::string& machine_name, int history_limit = 200);

  // Counts of rows, for tests and the bench: machines, applications, changes.
  std::array<int64_t, 3> RowCounts();

 private:
  PgPool& pool_;
  const std::chrono::seconds quiet_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_STORE_H_
