#include "server/pg_pool.h"

namespace quarrin {

namespace {

// A unit that failed with a lost connection or a conflict is run a second
// time, never a third.
bool RunAgain(const PgError& e, int attempt) {
  return attempt < 2 && (e.connection_lost() || e.retryable_conflict());
}

}  // namespace

PgPool::Lease::~Lease() {
  if (connection_ != nullptr) pool_->GiveBack(std::move(connection_));
}

PgPool::PgPool(PgConnectOptions options, unsigned size, std::chrono::milliseconds wait,
               unsigned queue)
    : options_(std::move(options)), size_(size == 0 ? 1 : size), wait_(wait), queue_(queue) {}

PgPool::Lease PgPool::Acquire() {
  std::unique_lock lock(mu_);
  const auto ready = [&] { return !idle_.empty() || open_ < size_; };
  if (!ready() && waiting_ >= queue_) {
    throw PgPoolExhausted("all " + std::to_string(size_) + " database sessions are busy and " +
                          std::to_string(waiting_) + " callers wait for one");
  }
  ++waiting_;
  const bool available = freed_.wait_for(lock, wait_, ready);
  --waiting_;
  if (!available) {
    throw PgPoolExhausted("all " + std::to_string(size_) + " database sessions stayed busy for " +
                          std::to_string(wait_.count()) + " ms");
  }
  if (!idle_.empty()) {
    std::unique_ptr<PgConnection> connection = std::move(idle_.back());
    idle_.pop_back();
    return Lease(this, std::move(connection));
  }
  ++open_;
  lock.unlock();
  try {
    return Lease(this, PgConnection::Open(options_));
  } catch (...) {
    lock.lock();
    --open_;
    freed_.notify_one();
    throw;
  }
}

void PgPool::GiveBack(std::unique_ptr<PgConnection> connection) {
  const bool lost = connection->broken();
  const bool reusable = !lost && connection->idle();
  if (!reusable) connection.reset();
  std::vector<std::unique_ptr<PgConnection>> dropped;
  {
    std::lock_guard lock(mu_);
    if (reusable) {
      idle_.push_back(std::move(connection));
    } else {
      --open_;
    }
    // A lost session most often means a restarted server, which has ended
    // the idle ones too: they are opened afresh rather than each failing
    // a call first.
    if (lost) {
      open_ -= static_cast<unsigned>(idle_.size());
      dropped.swap(idle_);
    }
  }
  freed_.notify_all();
}

PgTransaction::PgTransaction(PgConnection& connection) : connection_(connection) {
  connection_.Exec("BEGIN");
}

PgTransaction::~PgTransaction() {
  if (done_ || connection_.broken()) return;
  try {
    connection_.Exec("ROLLBACK");
  } catch (const PgError&) {
    // The session is then broken or still in a transaction; the pool
    // closes it instead of lending it again.
  }
}

void PgTransaction::Commit() {
  done_ = true;
  try {
    connection_.Exec("COMMIT");
  } catch (const PgError& e) {
    if (e.connection_lost()) {
      throw PgCommitInDoubt(std::string("commit: outcome unknown, the connection was lost: ") +
                            e.what());
    }
    throw;
  }
}

void RunTransaction(PgPool& pool, const std::function<void(PgTransaction&)>& work) {
  for (int attempt = 1;; ++attempt) {
    try {
      PgPool::Lease session = pool.Acquire();
      PgTransaction transaction(*session);
      work(transaction);
      transaction.Commit();
      return;
    } catch (const PgCommitInDoubt&) {
      throw;
    } catch (const PgPoolExhausted&) {
      throw;
    } catch (const PgError& e) {
      if (!RunAgain(e, attempt)) throw;
    }
  }
}

PgResult RunStatement(PgPool& pool, const std::string& sql, const PgParams& params) {
  for (int attempt = 1;; ++attempt) {
    try {
      PgPool::Lease session = pool.Acquire();
      return session->ExecPrepared(sql, params);
    } catch (const PgPoolExhausted&) {
      throw;
    } catch (const PgError& e) {
      if (!RunAgain(e, attempt)) throw;
    }
  }
}

}  // namespace quarrin
