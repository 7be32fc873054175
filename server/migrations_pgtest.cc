// The schema's migrations on an empty database.
#include <gtest/gtest.h>

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
  EXPECT_EQ(Migrate(*c, all), static_cast<int>(all.size()));
  EXPECT_EQ(Migrate(*c, all), 0);
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history"), static_cast<int64_t>(all.size()));
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history WHERE length(checksum) = 64"),
            static_cast<int64_t>(all.size()));
  EXPECT_EQ(Count("SELECT count(*) FROM information_schema.tables WHERE table_name = 'machines'"), 1);
}

TEST_F(MigrationsTest, RefusesASchemaItDoesNotKnow) {
  auto c = Connect();
  std::vector<Migration> migrations = {{1, "first", "CREATE TABLE a (x int);"}};
  Migrate(*c, migrations);

  // A newer server has been here.
  std::vector<Migration> newer = migrations;
  newer.push_back({2, "second", "CREATE TABLE b (x int);"});
  Migrate(*c, newer);
  try {
    Migrate(*c, migrations);
    ADD_FAILURE() << "started on a newer schema";
  } catch (const MigrationError& e) {
    EXPECT_NE(std::string(e.what()).find("schema is at version 2 (second), newer than this server "
                                         "knows (1)"),
              std::string::npos)
        << e.what();
  }

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

TEST_F(MigrationsTest, AFailingFileLeavesNothingOfItself) {
  auto c = Connect();
  const std::vector<Migration> migrations = {
      {1, "good", "CREATE TABLE a (x int);"},
      {2, "bad", "CREATE TABLE b (x int); INSERT INTO b VALUES ('not a number');"}};
  EXPECT_THROW(Migrate(*c, migrations), MigrationError);
  EXPECT_EQ(Count("SELECT count(*) FROM schema_history"), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM information_schema.tables WHERE table_name = 'b'"), 0);
  // The lock was given back: the next try runs.
  EXPECT_EQ(Migrate(*c, {migrations[0]}), 0);
}

}  // namespace
}  // namespace quarrin
