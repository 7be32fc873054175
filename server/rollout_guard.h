// Halts a ring's rollout by itself when its new build is doing harm.
//
// A ring's machines are those whose manifest came from it last
// (machine_rings; a machine that fetched none is in main). Since the ring
// got its build (the rollout's start), a machine of the ring
//   - tried the build when it logged a download (syslog 50100, 50110) or an
//     update failure, or reports the build as its QuarrinSrvc version;
//   - failed when it logged an update failure: the download file could not
//     be made (10000), the download's status was not 200 (10020), or its
//     signature did not hold (10030);
//   - went silent when it logged "Restarting Service" (50110) and has sent
//     neither its start message (50000) nor a report since, for longer than
//     the silent period.
// The rollout halts (UpdateSite::Halt) when the failed and silent machines
// number at least halt_machines and at least halt_percent of those that
// tried. Silence is seen through the agents' syslog, so the manifest's
// Syslog should name this server.
#ifndef QUARRIN_SERVER_ROLLOUT_GUARD_H_
#define QUARRIN_SERVER_ROLLOUT_GUARD_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/pg_pool.h"
#include "server/update_site.h"

namespace quarrin {

struct RolloutGuardOptions {
  int halt_machines = 2;
  int halt_percent = 10;
  std::chrono::minutes silent{60};
};

struct RolloutHealth {
  int64_t tried = 0;
  int64_t failed = 0;
  int64_t silent = 0;
  int64_t troubled = 0;  // failed or silent (a machine counts once)
};

// Why the rollout of `version` should halt; nullopt when it should go on.
std::optional<std::string> HaltReason(const RolloutGuardOptions& options,
                                      const std::string& version, const RolloutHealth& health);

// The state of a ring's rollout in one line, for the Updates page: its
// version, the build it offers, and when halted, why.
std::string RolloutStateText(const UpdateSite& site, const std::string& ring);

// Safe for concurrent use by multiple threads.
class RolloutGuard {
 public:
  RolloutGuard(PgPool& pool, UpdateSite& site, RolloutGuardOptions options)
      : pool_(pool), site_(site), options_(options) {}

  // Looks at every ring whose rollout is neither halted nor resumed and
  // halts those over the threshold; returns the rings it halted. Throws
  // PgError, UpdateSiteError.
  std::vector<std::string> Check();
  // The health of a ring's rollout of `version` since `started` (Unix seconds).
  RolloutHealth Health(const std::string& ring, const std::string& version, int64_t started);

 private:
  PgPool& pool_;
  UpdateSite& site_;
  const RolloutGuardOptions options_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_ROLLOUT_GUARD_H_
