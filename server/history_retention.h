// Keeps the month-partitioned tables (machine_changes by `changed`, events
// by `received`) in bounds: partitions made ahead for the coming months,
// and a month dropped whole once all of it is past its kind's retention,
// rather than its rows deleted one by one. Rows that fell outside every
// month partition (into the default one) and are past retention are
// deleted in batches. Run by one server at a time (job_lease.h).
#ifndef QUARRIN_SERVER_HISTORY_RETENTION_H_
#define QUARRIN_SERVER_HISTORY_RETENTION_H_

#include <string>
#include <vector>

#include "server/pg_pool.h"

namespace quarrin {

struct RetentionDays {
  int history = 1096;
  int events = 90;
};

// Makes the partitions of this month and the next `months_ahead`, drops
// the months past retention and returns their names. Throws PgError.
std::vector<std::string> KeepHistoryInBounds(PgPool& pool, const RetentionDays& days,
                                             int months_ahead = 3);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_HISTORY_RETENTION_H_
