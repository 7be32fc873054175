// The database layer on a real cluster: parameters, transactions, the pool's
// bounds and the retry after a lost connection.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "server/pg_pool.h"
#include "server/pg_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

class PgLayerTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    Connect()->Exec("CREATE TABLE notes (id serial PRIMARY KEY, text text UNIQUE)");
  }
};

TEST_F(PgLayerTest, ValuesTravelAsParametersNeverAsText) {
  const std::string hostile = "x'); DROP TABLE notes; --";
  RunTransaction(*pool_, [&](PgTransaction& tx) {
    tx.Exec("INSERT INTO notes (text) VALUES ($1)", {hostile});
    tx.Exec("INSERT INTO notes (text) VALUES ($1)", {std::nullopt});
  });
  PgResult r = Connect()->Exec("SELECT text FROM notes ORDER BY id");
  ASSERT_EQ(r.rows(), 2);
  EXPECT_EQ(r.Text(0, 0), hostile);
  EXPECT_TRUE(r.IsNull(1, 0));
  EXPECT_EQ(r.Optional(1, 0), std::nullopt);
}

TEST_F(PgLayerTest, AFailedUnitLeavesNothingAndIsNotRunAgain) {
  int runs = 0;
  EXPECT_THROW(RunTransaction(*pool_,
                              [&](PgTransaction& tx) {
                                ++runs;
                                tx.Exec("INSERT INTO notes (text) VALUES ('a')");
                                tx.Exec("INSERT INTO notes (text) VALUES ('a')");  // unique
                              }),
               PgError);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Count("SELECT count(*) FROM notes"), 0);
  try {
    RunTransaction(*pool_, [&](PgTransaction& tx) {
      tx.Exec("INSERT INTO notes (text) VALUES ('b')");
      tx.Exec("INSERT INTO notes (text) VALUES ('b')");
    });
  } catch (const PgError& e) {
    EXPECT_EQ(e.sqlstate(), "23505");
    EXPECT_FALSE(e.connection_lost());
  }
  // The session went back to the pool clean and serves the next unit.
  RunTransaction(*pool_, [&](PgTransaction& tx) { tx.Exec("INSERT INTO notes (text) VALUES ('c')"); });
  EXPECT_EQ(Count("SELECT count(*) FROM notes"), 1);
}

TEST_F(PgLayerTest, AConnectionLostBeforeTheCommitRunsTheUnitOnceMore) {
  int runs = 0;
  RunTransaction(*pool_, [&](PgTransaction& tx) {
    ++runs;
    tx.Exec("INSERT INTO notes (text) VALUES ('once')");
    // The server ends this session, as a restart would.
    if (runs == 1) tx.Exec("SELECT pg_terminate_backend(pg_backend_pid())");
  });
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(Count("SELECT count(*) FROM notes WHERE text = 'once'"), 1);

  // Lost twice: the second failure is the caller's.
  runs = 0;
  try {
    RunTransaction(*pool_, [&](PgTransaction& tx) {
      ++runs;
      tx.Exec("SELECT pg_terminate_backend(pg_backend_pid())");
    });
    ADD_FAILURE() << "no failure";
  } catch (const PgError& e) {
    EXPECT_TRUE(e.connection_lost()) << e.what();
  }
  EXPECT_EQ(runs, 2);
}

TEST_F(PgLayerTest, ASessionOnAServerTurnedStandbyIsDroppedAndTheUnitRunsOnANewOne) {
  {
    // As after a fail-over: the old primary, now read-only, still holds the session.
    PgPool::Lease session = pool_->Acquire();
    session->Exec("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
  }
  int runs = 0;
  RunTransaction(*pool_, [&](PgTransaction& tx) {
    ++runs;
    tx.Exec("INSERT INTO notes (text) VALUES ('after fail-over')");
  });
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(Count("SELECT count(*) FROM notes"), 1);
}

TEST_F(PgLayerTest, EveryWaitIsBounded) {
  // A statement past the statement time-out is cancelled by the server.
  PgConnectOptions quick = Options();
  quick.statement_timeout = 200ms;
  const auto started = std::chrono::steady_clock::now();
  try {
    PgConnection::Open(quick)->Exec("SELECT pg_sleep(10)");
    ADD_FAILURE() << "not cancelled";
  } catch (const PgError& e) {
    EXPECT_EQ(e.sqlstate(), "57014") << e.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

  // A caller waits for a session at most the pool's wait.
  PgPool pool(Options(), 1, 300ms);
  PgPool::Lease held = pool.Acquire();
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_THROW(pool.Acquire(), PgPoolExhausted);
  const auto waited = std::chrono::steady_clock::now() - asked;
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 3s);

  // With no room to wait, a caller is refused at once while every session
  // is lent, and served when one is free.
  PgPool no_queue(Options(), 1, 10s, 0);
  std::optional<PgPool::Lease> taken(no_queue.Acquire());
  const auto refused_at = std::chrono::steady_clock::now();
  EXPECT_THROW(no_queue.Acquire(), PgPoolExhausted);
  EXPECT_LT(std::chrono::steady_clock::now() - refused_at, 1s);
  taken.reset();
  EXPECT_NO_THROW(no_queue.Acquire());

  // A database that is not there is a clear error, not a wait.
  PgConnectOptions absent = Options();
  absent.conninfo = Conninfo("no_such_database");
  try {
    PgConnection::Open(absent);
    ADD_FAILURE() << "connected";
  } catch (const PgError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_database"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quarrin
