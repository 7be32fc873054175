#include "server/console/fleet_counts.h"

namespace quarrin {

// An interval's count is the sum of the whole hours inside it, plus the
// machines of the one partial hour at its edge, counted by the index on
// last_seen (at most an hour of reports).
FleetCounts ReadFleetCounts(PgConnection& db, const std::string& zone, int silent_days) {
  PgResult r = db.Exec(
      "WITH b AS (SELECT date_trunc('day', now() AT TIME ZONE $1) AT TIME ZONE $1 AS midnight,"
      " now() - make_interval(days => $2::integer) AS silent_before),"
      " e AS (SELECT midnight, CASE WHEN fleet_hour(midnight) = midnight THEN midnight"
      " ELSE fleet_hour(midnight) + interval '1 hour' END AS midnight_hour,"
      " silent_before, fleet_hour(silent_before) AS silent_hour FROM b)"
      " SELECT (SELECT coalesce(sum(machines), 0) FROM fleet_edition_counts),"
      " (SELECT coalesce(sum(machines), 0) FROM fleet_last_seen_hours WHERE hour >= e.midnight_hour)"
      " + (SELECT count(*) FROM machines WHERE last_seen >= e.midnight AND last_seen < e.midnight_hour),"
      " (SELECT coalesce(sum(machines), 0) FROM fleet_last_seen_hours WHERE hour < e.silent_hour)"
      " + (SELECT count(*) FROM machines WHERE last_seen >= e.silent_hour AND last_seen < e.silent_before)"
      " FROM e",
      {zone, PgValue(int64_t{silent_days})});
  FleetCounts counts{r.Int64(0, 0), r.Int64(0, 1), r.Int64(0, 2), {}};
  PgResult e = db.Exec(
      "SELECT product_name, machines FROM fleet_edition_counts WHERE machines > 0"
      " ORDER BY machines DESC, product_name");
  for (int i = 0; i < e.rows(); ++i) counts.editions.emplace_back(e.Text(i, 0), e.Int64(i, 1));
  return counts;
}

int DeleteEmptyCounts(PgPool& pool) {
  PgPool::Lease db = pool.Acquire();
  int deleted = 0;
  for (const char* table :
       {"fleet_last_seen_hours", "fleet_edition_counts", "application_version_counts",
        "ring_agent_counts"}) {
    deleted += static_cast<int>(
        db->Exec(std::string("DELETE FROM ") + table + " WHERE machines = 0").affected());
  }
  return deleted;
}

}  // namespace quarrin
