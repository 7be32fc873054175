#include "server/migrations.h"

#include <map>

namespace quarrin {

namespace {

// The advisory lock of the schema: a fixed number of this program's own.
constexpr char kLockKey[] = "7263540121";

constexpr char kCreateHistory[] =
    "CREATE TABLE IF NOT EXISTS schema_history ("
    " version integer PRIMARY KEY,"
    " name text NOT NULL,"
    " checksum text NOT NULL,"
    " applied timestamptz NOT NULL DEFAULT now())";

std::string Checksum(PgConnection& connection, const std::string& sql) {
  return connection.Exec("SELECT encode(sha256(convert_to($1, 'UTF8')), 'hex')", {sql}).Text(0, 0);
}

// Releases the lock whatever happens; a lost session has released it.
class SchemaLock {
 public:
  explicit SchemaLock(PgConnection& connection) : connection_(connection) {
    connection_.Exec(std::string("SELECT pg_advisory_lock(") + kLockKey + ")");
  }
  ~SchemaLock() {
    try {
      connection_.Exec(std::string("SELECT pg_advisory_unlock(") + kLockKey + ")");
    } catch (const PgError&) {
    }
  }

 private:
  PgConnection& connection_;
};

}  // namespace

int Migrate(PgConnection& connection, const std::vector<Migration>& migrations) {
  SchemaLock lock(connection);
  connection.Exec(kCreateHistory);
  std::map<int, std::pair<std::string, std::string>> applied;  // version: name, checksum
  PgResult rows = connection.Exec("SELECT version, name, checksum FROM schema_history");
  for (int r = 0; r < rows.rows(); ++r) {
    applied[static_cast<int>(rows.Int64(r, 0))] = {rows.Text(r, 1), rows.Text(r, 2)};
  }
  const int known = migrations.empty() ? 0 : migrations.back().version;
  if (!applied.empty() && applied.rbegin()->first > known) {
    throw MigrationError("the database schema is at version " +
                         std::to_string(applied.rbegin()->first) + " (" +
                         applied.rbegin()->second.first + "), newer than this server knows (" +
                         std::to_string(known) + "): run a newer server");
  }
  int count = 0;
  for (const Migration& m : migrations) {
    const std::string checksum = Checksum(connection, m.sql);
    const auto done = applied.find(m.version);
    if (done != applied.end()) {
      if (done->second.second != checksum) {
        throw MigrationError("migration " + std::to_string(m.version) + " (" + m.name +
                             ") has changed since it was applied: its checksum is " + checksum +
                             ", the database holds " + done->second.second);
      }
      continue;
    }
    connection.Exec("BEGIN");
    try {
      // A migration may take longer than an ordinary statement.
      connection.Exec("SET LOCAL statement_timeout = '10min'");
      connection.ExecScript(m.sql);
      connection.Exec("INSERT INTO schema_history (version, name, checksum) VALUES ($1, $2, $3)",
                      {std::to_string(m.version), m.name, checksum});
      connection.Exec("COMMIT");
    } catch (const PgError& e) {
      if (!connection.broken()) {
        try {
          connection.Exec("ROLLBACK");
        } catch (const PgError&) {
        }
      }
      throw MigrationError("migration " + std::to_string(m.version) + " (" + m.name +
                           ") failed, nothing of it applied: " + e.what());
    }
    ++count;
  }
  return count;
}

}  // namespace quarrin
