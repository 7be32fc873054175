// The counts at the top of the fleet page, read from the counter tables
// that triggers keep (migration V005): machines per edition, reported
// since the start of today, silent for more than a number of days.
#ifndef QUARRIN_SERVER_CONSOLE_FLEET_COUNTS_H_
#define QUARRIN_SERVER_CONSOLE_FLEET_COUNTS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/pg.h"
#include "server/pg_pool.h"

namespace quarrin {

struct FleetCounts {
  int64_t machines = 0;
  int64_t reported_today = 0;  // since midnight in the zone asked for
  int64_t silent = 0;          // last report longer ago than the days asked for
  std::vector<std::pair<std::string, int64_t>> editions;  // most machines first
};

// `zone`: a time-zone name PostgreSQL knows ("UTC", "Europe/Berlin").
FleetCounts ReadFleetCounts(PgConnection& db, const std::string& zone, int silent_days);

// Deletes counter rows that have come down to 0; returns how many.
int DeleteEmptyCounts(PgPool& pool);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_FLEET_COUNTS_H_
