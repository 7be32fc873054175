// The scheduled jobs' lease, and the history kept in bounds by month.
#include <gtest/gtest.h>

#include "server/history_retention.h"
#include "server/job_lease.h"
#include "server/pg_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

class HistoryRetentionTest : public testing::PgTest {};

TEST_F(HistoryRetentionTest, OneServerHoldsTheLeaseUntilItGivesItBackOrItLapses) {
  JobLease a(*pool_, "jobs", "a", 60s);
  JobLease b(*pool_, "jobs", "b", 60s);
  EXPECT_TRUE(a.Hold());
  EXPECT_FALSE(b.Hold());
  EXPECT_TRUE(a.Hold());  // renewed
  a.Release();
  EXPECT_TRUE(b.Hold());
  EXPECT_FALSE(a.Hold());
  // b died: its lease lapses and a takes it.
  Connect()->Exec("UPDATE job_leases SET until = now() - interval '1 second'");
  EXPECT_TRUE(a.Hold());
  EXPECT_FALSE(b.Hold());
  EXPECT_NE(RandomHolderName(), RandomHolderName());
}

TEST_F(HistoryRetentionTest, MonthsPastRetentionAreDroppedWholeAndTheComingOnesMade) {
  auto c = Connect();
  const int64_t machine =
      c->Exec("INSERT INTO machines (name_key, machine_name, first_seen, last_seen)"
              " VALUES ('PC1', 'PC1', now(), now()) RETURNING id")
          .Int64(0, 0);
  const std::string old_events =
      c->Exec("SELECT month_partition('events', now() - interval '200 days')").Text(0, 0);
  const std::string old_history =
      c->Exec("SELECT month_partition('machine_changes', now() - interval '4 years')").Text(0, 0);
  // Each kind: a row in a month past retention, one past retention in the
  // default partition (no month of its own), one within retention there,
  // one of today.
  for (const char* age : {"200 days", "100 days", "30 days", "0 days"}) {
    c->Exec("INSERT INTO events (received, sender, message) VALUES (now() - $1::interval, '10.0.0.1', $2)",
            {age, age});
  }
  for (const char* age : {"4 years", "1200 days", "2 years", "0 days"}) {
    c->Exec("INSERT INTO machine_changes (machine_id, changed, kind, item, new_value)"
            " VALUES ($1, now() - $2::interval, 'detail', 'x', $3)",
            {std::to_string(machine), age, age});
  }

  EXPECT_EQ(KeepHistoryInBounds(*pool_, {1096, 90}),
            (std::vector<std::string>{old_history, old_events}));
  const auto kept = [&](const char* sql) {
    std::string out;
    PgResult r = c->Exec(sql);
    for (int i = 0; i < r.rows(); ++i) out += r.Text(i, 0) + ";";
    return out;
  };
  EXPECT_EQ(kept("SELECT message FROM events ORDER BY received"), "30 days;0 days;");
  EXPECT_EQ(kept("SELECT new_value FROM machine_changes ORDER BY changed"), "2 years;0 days;");

  // This month and the next three have partitions; a second round finds
  // nothing to do.
  for (const char* table : {"events", "machine_changes"}) {
    EXPECT_EQ(Count(std::string("SELECT count(*) FROM generate_series(0, 3) AS m WHERE to_regclass('") +
                    table + "_p' || to_char(now() AT TIME ZONE 'UTC' + make_interval(months => m),"
                            " 'YYYYMM')) IS NOT NULL"),
              4)
        << table;
  }
  EXPECT_EQ(KeepHistoryInBounds(*pool_, {1096, 90}), std::vector<std::string>{});
}

}  // namespace
}  // namespace quarrin
