#include "server/audit_log.h"

#include "server/machine_identity.h"

namespace quarrin {

namespace {

// Cut at a byte count without splitting a UTF-8 sequence, which the
// database would refuse.
std::string Cut(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

int64_t AuditLog::Record(const AuditEntry& e) {
  int64_t id = 0;
  RunTransaction(pool_, [&](PgTransaction& tx) {
    id = tx.Exec(
               "INSERT INTO audit_log (actor, action, detail, name_key, machine_name, address,"
               " outcome, agent_status, answer) VALUES ($1, $2, $3, $4, $5, $6::inet, $7, $8, $9)"
               " RETURNING id",
               {e.actor, e.action, Cut(e.detail, kMaxAuditAnswerBytes), MachineKey(e.machine_name),
                e.machine_name,
                e.address.empty() ? std::nullopt : std::optional<std::string>(e.address),
                e.ok ? "ok" : "failed",
                e.agent_status ? std::optional<std::string>(std::to_string(*e.agent_status))
                               : std::nullopt,
                Cut(e.answer, kMaxAuditAnswerBytes)})
             .Int64(0, 0);
  });
  return id;
}

std::vector<AuditEntry> AuditLog::List(const AuditFilter& filter) {
  PgPool::Lease session = pool_.Acquire();
  PgTransaction tx(*session);
  std::vector<AuditEntry> entries = ReadAudit(tx, filter);
  tx.Commit();
  return entries;
}

std::vector<AuditEntry> ReadAudit(PgTransaction& tx, const AuditFilter& filter) {
  std::string sql =
      "SELECT id, to_char(at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), actor, action,"
      " detail, machine_name, coalesce(host(address), ''), outcome = 'ok', agent_status, answer"
      " FROM audit_log WHERE true";
  PgParams params;
  const auto where = [&](const std::string& condition, const std::string& value) {
    params.push_back(value);
    std::string c = condition;
    c.replace(c.find('?'), 1, "$" + std::to_string(params.size()));
    sql += " AND " + c;
  };
  if (!filter.machine.empty()) where("name_key = ?", MachineKey(filter.machine));
  if (!filter.actor.empty()) where("actor = ?", filter.actor);
  if (filter.before_id) where("id < ?::bigint", std::to_string(*filter.before_id));
  params.push_back(std::to_string(filter.limit));
  sql += " ORDER BY id DESC LIMIT $" + std::to_string(params.size()) + "::integer";
  const PgResult r = tx.Exec(sql, params);
  std::vector<AuditEntry> entries;
  for (int i = 0; i < r.rows(); ++i) {
    AuditEntry e;
    e.id = r.Int64(i, 0);
    e.at = r.Text(i, 1);
    e.actor = r.Text(i, 2);
    e.action = r.Text(i, 3);
    e.detail = r.Text(i, 4);
    e.machine_name = r.Text(i, 5);
    e.address = r.Text(i, 6);
    e.ok = r.Bool(i, 7);
    if (!r.IsNull(i, 8)) e.agent_status = static_cast<int>(r.Int64(i, 8));
    e.answer = r.Text(i, 9);
    entries.push_back(std::move(e));
  }
  return entries;
}

int AuditLog::DeleteOld(int days, int batch) {
  int deleted = 0;
  RunTransaction(pool_, [&](PgTransaction& tx) {
    deleted = static_cast<int>(
        tx.Exec("DELETE FROM audit_log WHERE id IN (SELECT id FROM audit_log"
                " WHERE at < now() - make_interval(days => $1::integer)"
                " ORDER BY at LIMIT $2 FOR UPDATE SKIP LOCKED)",
                {std::to_string(days), std::to_string(batch)})
            .affected());
  });
  return deleted;
}

}  // namespace quarrin
