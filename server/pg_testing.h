// A database of its own for each database test, cloned from the test run's
// template (scripts/pg-test-cluster.sh, the CTest fixture "pg_cluster"),
// which holds the server's schema. The cluster's folder comes from
// QUARRIN_PG_TEST_CLUSTER; without it the test is skipped. A test that
// failed keeps its database for a look; others drop theirs.
#ifndef QUARRIN_SERVER_PG_TESTING_H_
#define QUARRIN_SERVER_PG_TESTING_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "server/pg.h"
#include "server/pg_pool.h"

namespace quarrin::testing {

class PgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* cluster = std::getenv("QUARRIN_PG_TEST_CLUSTER");
    if (cluster == nullptr || *cluster == '\0') {
      GTEST_SKIP() << "no test cluster: run through ctest (QUARRIN_PG_TEST_CLUSTER)";
    }
    // The folder the link leads to: its socket's path stays short.
    cluster_ = std::filesystem::weakly_canonical(cluster).string();
    static std::atomic<int> serial{0};
    database_ = "test_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    Admin()->Exec("CREATE DATABASE " + database_ + " TEMPLATE " + Template());
    pool_ = std::make_unique<PgPool>(Options(), 4, std::chrono::milliseconds(2000));
  }

  void TearDown() override {
    pool_.reset();
    if (database_.empty() || HasFailure()) return;
    Admin()->Exec("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
  }

  // The template to clone; a test of the migrations takes an empty one.
  virtual std::string Template() const { return "quarrin_template"; }

  std::string Conninfo(const std::string& database) const {
    return "host=" + cluster_ + " user=quarrin dbname=" + database;
  }
  PgConnectOptions Options() const {
    PgConnectOptions o;
    o.conninfo = Conninfo(database_);
    o.connect_timeout = std::chrono::seconds(5);
    o.statement_timeout = std::chrono::milliseconds(5000);
    return o;
  }
  std::unique_ptr<PgConnection> Connect() const { return PgConnection::Open(Options()); }
  // The number of a query's single value.
  int64_t Count(const std::string& sql) { return Connect()->Exec(sql).Int64(0, 0); }

  std::string cluster_;
  std::string database_;
  std::unique_ptr<PgPool> pool_;

 private:
  std::unique_ptr<PgConnection> Admin() const {
    PgConnectOptions o;
    o.conninfo = Conninfo("postgres");
    return PgConnection::Open(o);
  }
};

}  // namespace quarrin::testing

#endif  // QUARRIN_SERVER_PG_TESTING_H_
