// The audit log: every action taken on a machine from the console, with who
// took it, when, what it carried and what the agent answered. Rows are only
// added (the database refuses to change one) and leave only by age.
#ifndef QUARRIN_SERVER_AUDIT_LOG_H_
#define QUARRIN_SERVER_AUDIT_LOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/pg_pool.h"

namespace quarrin {

struct AuditEntry {
  int64_t id = 0;           // set by the log
  std::string at;           // ISO 8601, UTC; set by the log
  std::string actor;        // the console account
  std::string action;       // "message", "update-check", "set-comment", ...
  std::string detail;       // the message or the value
  std::string machine_name;
  std::string address;      // where the agent was reached; empty: nowhere
  bool ok = false;          // the agent answered 200
  std::optional<int> agent_status;
  std::string answer;       // the agent's answer, or why there was none
};

// A filter of the list; empty fields let everything through.
struct AuditFilter {
  std::string machine;      // a machine name (any case, with or without domain)
  std::string actor;        // exactly
  std::optional<int64_t> before_id;  // entries older than this one (paging)
  int limit = 100;
};

// The longest answer kept in a row; the rest is cut.
inline constexpr size_t kMaxAuditAnswerBytes = 4096;

// The entries the filter lets through, newest first, read in `tx`.
std::vector<AuditEntry> ReadAudit(PgTransaction& tx, const AuditFilter& filter);

// Safe for concurrent use by multiple threads.
class AuditLog {
 public:
  explicit AuditLog(PgPool& pool) : pool_(pool) {}

  // Adds an entry (its id and time are the log's) and returns its id.
  int64_t Record(const AuditEntry& entry);
  // The entries the filter lets through, newest first.
  std::vector<AuditEntry> List(const AuditFilter& filter);
  // Deletes at most `batch` entries older than `days` days, skipping rows
  // another session holds; returns how many it deleted.
  int DeleteOld(int days, int batch = 1000);

 private:
  PgPool& pool_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_AUDIT_LOG_H_
