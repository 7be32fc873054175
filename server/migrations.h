// The database schema, built and brought up to date by the server at start
// from the versioned files of server/migrations (V001__machines.sql, ...),
// which the build embeds in the program.
//
// Each file runs in a transaction of its own together with its row in
// schema_history (version, name, checksum). That transaction holds an
// advisory lock of its own and reads schema_history again under it, so two
// servers starting at once apply each file once, also behind a pooler in
// transaction mode. A database may hold versions this server does not know:
// a newer server has been there, and as migrations only add to the schema,
// an older one still serves on it. A file it knows whose text has changed
// since it was applied is refused (MigrationError).
#ifndef QUARRIN_SERVER_MIGRATIONS_H_
#define QUARRIN_SERVER_MIGRATIONS_H_

#include <stdexcept>
#include <string>
#include <vector>

#include "server/pg.h"

namespace quarrin {

struct Migration {
  int version = 0;
  std::string name;  // "machines" of V001__machines.sql
  std::string sql;
};

class MigrationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The files embedded at build time, by version.
const std::vector<Migration>& EmbeddedMigrations();

struct MigrationOutcome {
  int applied = 0;  // by this call
  // The versions the database holds that `migrations` lacks, "4 (name)".
  std::vector<std::string> unknown;
};

// Applies the migrations that the database lacks, in order. Throws
// MigrationError as above, PgError when the database fails.
// REQUIRES: `migrations` ordered by version, versions unique.
MigrationOutcome Migrate(PgConnection& connection, const std::vector<Migration>& migrations);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_MIGRATIONS_H_
