// A bounded pool of database sessions and the transaction around a unit of
// work.
//
// A session belongs to one thread at a time: Acquire lends one, and the
// lease gives it back. At most `size` sessions are open; a caller waits at
// most `wait` for one and then gets PgPoolExhausted, and when `queue` callers
// wait already, one more gets it at once: a database that falls behind, or
// a crowd of callers, costs the callers past what the sessions work off in
// a moment a quick refusal, not a queue without end, and those that wait a
// short wait.
#ifndef QUARRIN_SERVER_PG_POOL_H_
#define QUARRIN_SERVER_PG_POOL_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/pg.h"

namespace quarrin {

// No session came free within the pool's wait.
class PgPoolExhausted : public PgError {
 public:
  explicit PgPoolExhausted(const std::string& message) : PgError(message, "", false) {}
};

// The connection was lost while COMMIT was on its way: the transaction may
// or may not have been committed, so it is not run again.
class PgCommitInDoubt : public PgError {
 public:
  explicit PgCommitInDoubt(const std::string& message) : PgError(message, "", true) {}
};

class PgPool {
 public:
  class Lease {
   public:
    Lease(PgPool* pool, std::unique_ptr<PgConnection> connection)
        : pool_(pool), connection_(std::move(connection)) {}
    Lease(Lease&&) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    // Gives the session back; a broken one, or one inside a transaction, is
    // closed, and a broken one closes the idle ones with it.
    ~Lease();
    PgConnection& operator*() const { return *connection_; }
    PgConnection* operator->() const { return connection_.get(); }

   private:
    PgPool* pool_;
    std::unique_ptr<PgConnection> connection_;
  };

  PgPool(PgConnectOptions options, unsigned size, std::chrono::milliseconds wait,
         unsigned queue = 1024);
  PgPool(const PgPool&) = delete;
  PgPool& operator=(const PgPool&) = delete;

  // An idle session, or a new one while fewer than `size` are open. Throws
  // PgPoolExhausted after `wait`, or at once when `queue` callers wait
  // already, PgError when a new session cannot be opened. Safe for
  // concurrent use.
  Lease Acquire();

  const PgConnectOptions& options() const { return options_; }

 private:
  void GiveBack(std::unique_ptr<PgConnection> connection);

  const PgConnectOptions options_;
  const unsigned size_;
  const std::chrono::milliseconds wait_;
  const unsigned queue_;
  std::mutex mu_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  unsigned open_ = 0;  // lent and idle
  unsigned waiting_ = 0;
};

// A transaction on one session: rolled back on destruction unless committed.
class PgTransaction {
 public:
  explicit PgTransaction(PgConnection& connection);
  ~PgTransaction();
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;

  PgResult Exec(std::string_view sql, const PgParams& params = {}) {
    return connection_.Exec(sql, params);
  }
  // Throws PgCommitInDoubt when the connection is lost during the commit,
  // PgError for any other failure (the transaction is then rolled back).
  void Commit();

 private:
  PgConnection& connection_;
  bool done_ = false;
};

// Runs `work` in a transaction on a session of the pool and commits it.
// When the connection is lost before the commit, or the server reports a
// serialization failure or deadlock, the whole unit runs once more on
// another session; never after a commit whose outcome is unknown. Other
// failures, and the second one, are thrown. `work` must change nothing but
// the database, as it may run twice.
void RunTransaction(PgPool& pool, const std::function<void(PgTransaction&)>& work);

// Runs one statement, a transaction of its own, prepared on a session of the
// pool (PgConnection::ExecPrepared): one round trip. When the connection is
// lost, or the server reports a serialization failure or deadlock, it runs
// once more on another session. A lost connection leaves unknown whether
// the first run took effect, so the statement must be one whose second run
// after a first that took effect changes nothing more (as an agent's
// repeated report call). Other failures, and the second one, are thrown.
PgResult RunStatement(PgPool& pool, const std::string& sql, const PgParams& params);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_PG_POOL_H_
