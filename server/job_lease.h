// A lease on a scheduled job, so that of several servers on one database
// one at a time does it: a row of job_leases names the holder and until
// when it holds. Taking and renewing are one statement each, which holds
// behind a pooler in transaction mode, where a session-level lock would not.
//
// A holder that stops gives its lease back; one that dies leaves it to
// lapse, after which another server takes it. Work under a lease must be
// safe to repeat, as a holder slower than its term may overlap the next.
#ifndef QUARRIN_SERVER_JOB_LEASE_H_
#define QUARRIN_SERVER_JOB_LEASE_H_

#include <chrono>
#include <string>

#include "server/pg_pool.h"

namespace quarrin {

class JobLease {
 public:
  // `holder` names this server among the others (RandomHolderName).
  JobLease(PgPool& pool, std::string job, std::string holder, std::chrono::seconds term)
      : pool_(pool), job_(std::move(job)), holder_(std::move(holder)), term_(term) {}

  // True iff this server holds the lease now, for another term from now.
  // Throws PgError.
  bool Hold();
  // Gives the lease back if this server holds it. Throws PgError.
  void Release();

  const std::string& holder() const { return holder_; }

 private:
  PgPool& pool_;
  const std::string job_;
  const std::string holder_;
  const std::chrono::seconds term_;
};

// A name no other server picks: 16 random hexadecimal digits.
std::string RandomHolderName();

}  // namespace quarrin

#endif  // QUARRIN_SERVER_JOB_LEASE_H_
