#include "server/migrations.h"

#include <map>
#include <set>

namespace quarrin {

namespace {

// The advisory lock of the schema: a fixed number of this program's own.
// Taken per transaction, so that it also holds behind a pooler that hands
// each transaction to another server session (PgBouncer's transaction mode).
constexpr char kLockSchema[] = "SELECT pg_advisory_xact_lock(7263540121)";

constexpr char kCreateHistory[] =
    "CREATE TABLE IF NOT EXISTS schema_history ("
    " version integer PRIMARY KEY,"
    " name text NOT NULL,"
    " checksum text NOT NULL,"
    " applied timestamptz NOT NULL DEFAULT now())";

std::string Checksum(PgConnection& connection, const std::string& sql) {
  return connection.Exec("SELECT encode(sha256(convert_to($1, 'UTF8')), 'hex')", {sql}).Text(0, 0);
}

using Applied = std::map<int, std::pair<std::string, std::string>>;  // version: name, checksum

// Opens a transaction holding the schema's lock. Waiting for it is bounded
// by the time a migration may take, as another server may be applying one:
// one that rewrites a large table takes tens of minutes.
void BeginLocked(PgConnection& connection) {
  connection.Exec("BEGIN");
  connection.Exec("SET LOCAL statement_timeout = '2h'");
  connection.Exec(kLockSchema);
  connection.Exec(kCreateHistory);
}

Applied ReadHistory(PgConnection& connection) {
  Applied applied;
  PgResult rows = connection.Exec("SELECT version, name, checksum FROM schema_history");
  for (int r = 0; r < rows.rows(); ++r) {
    applied[static_cast<int>(rows.Int64(r, 0))] = {rows.Text(r, 1), rows.Text(r, 2)};
  }
  return applied;
}

void Rollback(PgConnection& connection) {
  if (connection.broken()) return;
  try {
    connection.Exec("ROLLBACK");
  } catch (const PgError&) {
  }
}

void CheckUnchanged(const Migration& m, const std::string& checksum, const std::string& recorded) {
  if (recorded != checksum) {
    throw MigrationError("migration " + std::to_string(m.version) + " (" + m.name +
                         ") has changed since it was applied: its checksum is " + checksum +
                         ", the database holds " + recorded);
  }
}

// Applies one migration unless another server has meanwhile; true iff it did.
bool ApplyOne(PgConnection& connection, const Migration& m, const std::string& checksum) {
  try {
    BeginLocked(connection);
    const Applied applied = ReadHistory(connection);
    if (const auto done = applied.find(m.version); done != applied.end()) {
      connection.Exec("COMMIT");
      CheckUnchanged(m, checksum, done->second.second);
      return false;
    }
    connection.ExecScript(m.sql);
    connection.Exec("INSERT INTO schema_history (version, name, checksum) VALUES ($1, $2, $3)",
                    {std::to_string(m.version), m.name, checksum});
    connection.Exec("COMMIT");
    return true;
  } catch (const PgError& e) {
    Rollback(connection);
    throw MigrationError("migration " + std::to_string(m.version) + " (" + m.name +
                         ") failed, nothing of it applied: " + e.what());
  }
}

}  // namespace

MigrationOutcome Migrate(PgConnection& connection, const std::vector<Migration>& migrations) {
  Applied applied;
  try {
    BeginLocked(connection);
    applied = ReadHistory(connection);
    connection.Exec("COMMIT");
  } catch (const PgError&) {
    Rollback(connection);
    throw;
  }
  MigrationOutcome outcome;
  std::set<int> known;
  for (const Migration& m : migrations) known.insert(m.version);
  for (const auto& [version, entry] : applied) {
    if (!known.count(version)) {
      outcome.unknown.push_back(std::to_string(version) + " (" + entry.first + ")");
    }
  }
  for (const Migration& m : migrations) {
    const std::string checksum = Checksum(connection, m.sql);
    if (const auto done = applied.find(m.version); done != applied.end()) {
      CheckUnchanged(m, checksum, done->second.second);
      continue;
    }
    if (ApplyOne(connection, m, checksum)) ++outcome.applied;
  }
  return outcome;
}

}  // namespace quarrin
