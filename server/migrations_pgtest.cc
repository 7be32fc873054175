// The schema's migrations on an empty database.
#include <gtest/gtest.h>

#include <thread>

#include "server/migrations.h"
#include "server/pg_testing.h"

namespace quarrin {
namespace {

class MigrationsTest : public testing::PgTest {
 protected:
  std::string Template() const override { return "template0"; }
};

TEST_F(MigrationsTest, BuildsTheSchemaOnceAndRecordsEachFile) {
  auto c = Connect();
  const std::vector<Migration>& all = EmbeddedMigrations();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front().version, 1);
  EXPECT_EQ(Migrate(*c, all).applied, static_cast<int>(all.size()));
  EXPECT_EQ(Migrate(*c, all).applied, 0);
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history"), static_cast<int64_t>(all.size()));
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history WHERE length(checksum) = 64"),
            static_cast<int64_t>(all.size()));
  EXPECT_EQ(Count("SELECT count(*) FROM information_schema.tables WHERE table_name = 'machines'"), 1);
}

TEST_F(MigrationsTest, TwoServersStartingAtOnceMigrateOnce) {
  // The first file takes a while, so that the second server comes while it runs.
  const std::vector<Migration> migrations = {
      {1, "slow", "SELECT pg_sleep(0.3); CREATE TABLE a (x int);"},
      {2, "second", "CREATE TABLE b (x int);"},
      {3, "third", "ALTER TABLE b ADD COLUMN y int;"}};
  int applied[2] = {0, 0};
  std::string failures[2];
  std::vector<std::thread> servers;
  for (int i = 0; i < 2; ++i) {
    servers.emplace_back([&, i] {
      try {
        applied[i] = Migrate(*Connect(), migrations).applied;
      } catch (const std::exception& e) {
        failures[i] = e.what();
      }
    });
  }
  for (std::thread& t : servers) t.join();
  EXPECT_EQ(failures[0] + failures[1], "");
  EXPECT_EQ(applied[0] + applied[1], 3);
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history"), 3);
}

TEST_F(MigrationsTest, AnOlderServerServesOnANewerSchemaButNotOnAChangedFile) {
  auto c = Connect();
  std::vector<Migration> migrations = {{1, "first", "CREATE TABLE a (x int);"}};
  Migrate(*c, migrations);

  // A newer server has been here: the older one starts and says so.
  std::vector<Migration> newer = migrations;
  newer.push_back({2, "second", "CREATE TABLE b (x int);"});
  Migrate(*c, newer);
  const MigrationOutcome older = Migrate(*c, migrations);
  EXPECT_EQ(older.applied, 0);
  EXPECT_EQ(older.unknown, std::vector<std::string>{"2 (second)"});

  // A file changed after it was applied.
  newer[0].sql = "CREATE TABLE a (x bigint);";
  try {
    Migrate(*c, newer);
    ADD_FAILURE() << "a changed file was accepted";
  } catch (const MigrationError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("migration 1 (first) has changed since it was applied", 0), 0u)
        << e.what();
  }
}

TEST_F(MigrationsTest, HistoryAndEventsMoveIntoMonthPartitionsWithTheirRows) {
  auto c = Connect();
  std::vector<Migration> before;
  for (const Migration& m : EmbeddedMigrations()) {
    if (m.version < 4) before.push_back(m);
  }
  Migrate(*c, before);
  c->Exec("INSERT INTO machines (name_key, machine_name, first_seen, last_seen)"
          " VALUES ('PC1', 'PC1', now(), now())");
  c->Exec("INSERT INTO machine_changes (machine_id, changed, kind, item)"
          " SELECT id, now() - interval '400 days', 'machine', 'first report' FROM machines");
  c->Exec("INSERT INTO events (received, sender, message) VALUES (now(), '10.0.0.1', 'hello')");

  Migrate(*c, EmbeddedMigrations());
  EXPECT_EQ(Count("SELECT count(*) FROM machine_changes_default"), 0);  // its month was made
  EXPECT_EQ(Count("SELECT count(*) FROM machine_changes WHERE item = 'first report'"), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM events WHERE message = 'hello'"), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM pg_partitioned_table"), 2);
  // The ids go on from where they were.
  EXPECT_EQ(Count("INSERT INTO events (received, sender, message) VALUES (now(), '10.0.0.1', 'x')"
                  " RETURNING id"),
            2);
}

TEST_F(MigrationsTest, AFailingFileLeavesNothingOfItself) {
  auto c = Connect();
  const std::vector<Migration> migrations = {
      {1, "good", "CREATE TABLE a (x int);"},
      {2, "bad", "CREATE TABLE b (x int); INSERT INTO b VALUES ('not a number');"}};
  EXPECT_THROW(Migrate(*c, migrations), MigrationError);
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history"), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM information_schema.tables WHERE table_name = 'b'"), 0);
  // The lock was given back: the next try runs.
  EXPECT_EQ(Migrate(*c, {migrations[0]}).applied, 0);
}

}  // namespace
}  // namespace quarrin
