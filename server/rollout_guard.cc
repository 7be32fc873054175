#include "server/rollout_guard.h"

namespace quarrin {

std::optional<std::string> HaltReason(const RolloutGuardOptions& options,
                                      const std::string& version, const RolloutHealth& health) {
  if (health.troubled < options.halt_machines ||
      health.troubled * 100 < options.halt_percent * health.tried) {
    return std::nullopt;
  }
  return std::to_string(health.troubled) + " of the " + std::to_string(health.tried) +
         " machines that took or tried " + version + " are in trouble: " +
         std::to_string(health.failed) + " logged an update failure, " +
         std::to_string(health.silent) + " went silent after restarting into it";
}

std::string RolloutStateText(const UpdateSite& site, const std::string& ring) {
  const std::optional<std::string> version = site.RingVersion(ring);
  if (!version) return "no build";
  if (const std::optional<RingHalt> halt = site.Halted(ring)) {
    const std::optional<std::string> served = site.ServedVersion(ring);
    return "halted: " + halt->version + " is held back and the ring offers " +
           served.value_or("no build") + "; " + halt->reason;
  }
  if (site.Resumed(ring)) return "serving " + *version + " (resumed by an administrator)";
  return "serving " + *version;
}

RolloutHealth RolloutGuard::Health(const std::string& ring, const std::string& version,
                                   int64_t started) {
  PgPool::Lease session = pool_.Acquire();
  const PgResult r = session->Exec(
      "WITH ring AS (SELECT m.id, m.last_seen FROM machines m"
      "   LEFT JOIN machine_rings f ON f.machine_id = m.id"
      "   WHERE coalesce(f.ring, 'main') = $1),"
      " recent AS (SELECT e.machine_id, e.received, e.code FROM events e JOIN ring ON ring.id = e.machine_id"
      "   WHERE e.received >= to_timestamp($2::bigint)"
      "   AND e.code IN ('10000', '10020', '10030', '50000', '50100', '50110')),"
      " failed AS (SELECT DISTINCT machine_id FROM recent WHERE code IN ('10000', '10020', '10030')),"
      " restarted AS (SELECT machine_id, max(received) AS at FROM recent WHERE code = '50110'"
      "   GROUP BY machine_id),"
      " silent AS (SELECT r.machine_id FROM restarted r JOIN ring ON ring.id = r.machine_id"
      "   WHERE r.at < now() - make_interval(mins => $4::integer) AND ring.last_seen <= r.at"
      "   AND NOT EXISTS (SELECT 1 FROM recent s WHERE s.machine_id = r.machine_id"
      "                   AND s.code = '50000' AND s.received > r.at)),"
      " running AS (SELECT a.machine_id FROM machine_applications a JOIN ring ON ring.id = a.machine_id"
      "   WHERE a.application = 'QuarrinSrvc' AND a.version = $3 AND a.gone IS NULL),"
      " tried AS (SELECT machine_id FROM recent WHERE code <> '50000' UNION SELECT machine_id FROM running)"
      " SELECT (SELECT count(*) FROM tried), (SELECT count(*) FROM failed),"
      "  (SELECT count(*) FROM silent),"
      "  (SELECT count(*) FROM (SELECT machine_id FROM failed UNION SELECT machine_id FROM silent) t)",
      {ring, std::to_string(started), version,
       std::to_string(options_.silent.count())});
  return {r.Int64(0, 0), r.Int64(0, 1), r.Int64(0, 2), r.Int64(0, 3)};
}

std::vector<std::string> RolloutGuard::Check() {
  std::vector<std::string> halted;
  for (const std::string& ring : site_.Rings()) {
    const std::optional<RingRollout> rollout = site_.Rollout(ring);
    if (!rollout || site_.Halted(ring) || site_.Resumed(ring)) continue;
    const RolloutHealth health = Health(ring, rollout->version, rollout->started);
    if (const std::optional<std::string> why = HaltReason(options_, rollout->version, health)) {
      site_.Halt(ring, *why);
      halted.push_back(ring);
    }
  }
  return halted;
}

}  // namespace quarrin
