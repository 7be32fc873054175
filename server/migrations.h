// The database schema, built and brought up to date by the server at start
// from the versioned files of server/migrations (V001__machines.sql, ...),
// which the build embeds in the program.
//
// Each file runs in a transaction of its own together with its row in
// schema_history (version, name, checksum). A session-level advisory lock
// keeps two servers starting at once from applying a file twice. The
// server refuses to start (MigrationError) when the database holds a
// version it does not know (a newer server has been there) or a file it
// knows whose text has changed since it was applied.
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

// Applies the migrations that the database lacks, in order, and returns
// how many it applied. Throws MigrationError as above, PgError when the
// database fails. REQUIRES: `migrations` ordered by version, versions unique.
int Migrate(PgConnection& connection, const std::vector<Migration>& migrations);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_MIGRATIONS_H_
