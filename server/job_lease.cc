#include "server/job_lease.h"

#include <cstdio>
#include <random>

namespace quarrin {

bool JobLease::Hold() {
  PgPool::Lease session = pool_.Acquire();
  return session
             ->Exec("INSERT INTO job_leases AS l (job, holder, until)"
                    " VALUES ($1, $2, now() + make_interval(secs => $3::integer))"
                    " ON CONFLICT (job) DO UPDATE SET holder = excluded.holder, until = excluded.until"
                    " WHERE l.holder = excluded.holder OR l.until < now()"
                    " RETURNING holder",
                    {job_, holder_, std::to_string(term_.count())})
             .rows() == 1;
}

void JobLease::Release() {
  PgPool::Lease session = pool_.Acquire();
  session->Exec("DELETE FROM job_leases WHERE job = $1 AND holder = $2", {job_, holder_});
}

std::string RandomHolderName() {
  std::random_device random;
  const uint64_t n = (static_cast<uint64_t>(random()) << 32) ^ random();
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(n));
  return text;
}

}  // namespace quarrin
