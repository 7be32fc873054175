#include "server/history_retention.h"

namespace quarrin {

namespace {

struct Kind {
  const char* table;
  const char* time_column;
  int RetentionDays::*days;
};

constexpr Kind kKinds[] = {{"machine_changes", "changed", &RetentionDays::history},
                           {"events", "received", &RetentionDays::events}};

// Creating and dropping a partition lock the whole table: a short wait for
// that lock, so that intake never queues behind this job for long; the
// next round tries again.
void Bounded(PgTransaction& tx) { tx.Exec("SET LOCAL lock_timeout = '2s'"); }

}  // namespace

std::vector<std::string> KeepHistoryInBounds(PgPool& pool, const RetentionDays& days,
                                             int months_ahead) {
  std::vector<std::string> dropped;
  for (const Kind& kind : kKinds) {
    const std::string table = kind.table;
    const std::string keep = std::to_string(days.*kind.days);
    for (int month = 0; month <= months_ahead; ++month) {
      RunTransaction(pool, [&](PgTransaction& tx) {
        Bounded(tx);
        tx.Exec("SELECT month_partition($1, now() + make_interval(months => $2::integer))",
                {table, std::to_string(month)});
      });
    }
    std::vector<std::string> names;
    RunTransaction(pool, [&](PgTransaction& tx) {
      names.clear();
      Bounded(tx);
      PgResult gone = tx.Exec(
          "SELECT drop_months_before($1, now() - make_interval(days => $2::integer))",
          {table, keep});
      for (int r = 0; r < gone.rows(); ++r) names.push_back(gone.Text(r, 0));
    });
    dropped.insert(dropped.end(), names.begin(), names.end());
    // The default partition holds few rows, if any; in batches all the same.
    const std::string delete_old = "DELETE FROM " + table + "_default WHERE ctid IN (SELECT ctid FROM " +
                                   table + "_default WHERE " + kind.time_column +
                                   " < now() - make_interval(days => $1::integer) LIMIT 1000)";
    for (uint64_t deleted = 1; deleted > 0;) {
      RunTransaction(pool, [&](PgTransaction& tx) { deleted = tx.Exec(delete_old, {keep}).affected(); });
    }
  }
  return dropped;
}

}  // namespace quarrin
