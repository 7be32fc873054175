// quarrin-server: the fleet server and its administration commands.
//
//   quarrin-server [--config FILE] [serve]            serve until SIGTERM or SIGINT
//   quarrin-server [--config FILE] migrate            bring the schema up to date
//   quarrin-server [--config FILE] import-assets CSV  fill the asset register
//   quarrin-server [--config FILE] publish FILE SIG   publish a signed build to the first ring
//   quarrin-server [--config FILE] promote VERSION RING  make a ring serve a published build
//   quarrin-server [--config FILE] add-user NAME --role ROLE  add a console account; the
//                                                    password is read from standard input
//
// Without --config the settings' defaults apply. Exit status: 0 done, 1 a
// failure (its reason on standard error), 2 a wrong command line.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files/file_io.h"
#include "platform/process/terminal_linux.h"
#include "server/assets.h"
#include "server/console/accounts.h"
#include "server/console/secrets.h"
#include "server/fleet_server.h"
#include "server/migrations.h"
#include "server/pg_pool.h"
#include "server/settings.h"
#include "server/update_site.h"
#include "update/update_signature.h"

namespace quarrin {
namespace {

constexpr size_t kMaxCsvBytes = 64u << 20;

int Usage() {
  std::fputs(
      "usage: quarrin-server [--config FILE] [serve]\n"
      "       quarrin-server [--config FILE] migrate\n"
      "       quarrin-server [--config FILE] import-assets FILE.csv\n"
      "       quarrin-server [--config FILE] publish FILE SIGNATURE\n"
      "       quarrin-server [--config FILE] promote VERSION RING\n"
      "       quarrin-server [--config FILE] add-user NAME --role viewer|operator|administrator\n",
      stderr);
  return 2;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "quarrin-server: %s\n", text.c_str());
  return 1;
}

PgConnectOptions ConnectOptions(const ServerSettings& s) {
  PgConnectOptions o;
  o.conninfo = s.database;
  o.connect_timeout = s.database_connect_timeout;
  o.statement_timeout = s.database_statement_timeout;
  o.prepared_statements = s.database_prepared_statements;
  return o;
}

int MigrateNow(PgPool& pool) {
  PgPool::Lease session = pool.Acquire();
  const MigrationOutcome outcome = Migrate(*session, EmbeddedMigrations());
  if (outcome.applied > 0) {
    std::fprintf(stderr, "quarrin-server: applied %d migration(s)\n", outcome.applied);
  }
  for (const std::string& version : outcome.unknown) {
    std::fprintf(stderr,
                 "quarrin-server: the database holds migration %s, newer than this server; "
                 "serving on it (migrations only add)\n",
                 version.c_str());
  }
  return 0;
}

int Serve(const ServerSettings& settings, PgPool& pool) {
  MigrateNow(pool);
  // The signals are taken by sigwait below, in this thread only: every
  // thread started after this inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  FleetServer server(settings, pool);
  std::string error;
  if (!server.Start(&error)) return Fail(error);
  std::fprintf(stderr, "quarrin-server: listening on port %u\n", server.port());
  int signal = 0;
  sigwait(&signals, &signal);
  std::fprintf(stderr, "quarrin-server: stopping (signal %d)\n", signal);
  server.Stop();
  return 0;
}

int ImportAssets(const std::string& path, PgPool& pool, const ServerSettings& settings) {
  std::string text;
  bool cut = false;
  if (const int e = ReadFileCapped(path, kMaxCsvBytes, &text, &cut); e != 0) {
    return Fail(ErrnoMessage(path, e));
  }
  if (cut) return Fail(path + ": larger than " + std::to_string(kMaxCsvBytes) + " bytes");
  std::vector<AssetRecord> records;
  try {
    records = ParseAssetCsv(text);
  } catch (const AssetCsvError& e) {
    return Fail(path + ": " + e.what() + "; nothing imported");
  }
  MigrateNow(pool);
  InventoryStore store(pool, settings.report_quiet_period);
  store.PutAssets(records);
  std::fprintf(stderr, "quarrin-server: imported %zu asset(s) from %s\n", records.size(),
               path.c_str());
  return 0;
}

// The password comes from standard input, twice at a terminal, so that
// neither the command line nor the shell's history holds it.
int AddUser(const std::vector<std::string>& args, PgPool& pool, const ServerSettings& settings) {
  const std::optional<Role> role = ParseRole(args[3]);
  if (!role) return Fail("'" + args[3] + "' is not a role: viewer, operator or administrator");
  std::string password;
  if (!ReadSecretLine("Password for " + args[1] + ": ", &password)) {
    return Fail("no password on standard input");
  }
  if (StdinIsTerminal()) {
    std::string again;
    if (!ReadSecretLine("The same password again: ", &again) || again != password) {
      return Fail("the two passwords differ; no account added");
    }
  }
  MigrateNow(pool);
  ConsoleAccounts accounts(pool, {settings.console_session_idle, settings.console_session_lifetime});
  try {
    accounts.AddUser(args[1], *role, password);
  } catch (const AccountError& e) {
    return Fail(e.what());
  } catch (const SecretsError& e) {
    return Fail(e.what());
  }
  std::fprintf(stderr, "quarrin-server: added the %s %s\n", args[3].c_str(), args[1].c_str());
  return 0;
}

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string config;
  if (args.size() >= 2 && args[0] == "--config") {
    config = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  const std::string command = args.empty() ? "serve" : args[0];
  ServerSettings settings;
  try {
    if (!config.empty()) settings = ReadServerSettings(config);
  } catch (const SettingsError& e) {
    return Fail(e.what());
  }
  try {
    UpdateSite site(UpdateSiteOf(settings));
    if (command == "publish" && args.size() == 3) {
      const std::string version = site.Publish(args[1], args[2]);
      const std::string ring = settings.rings.empty() ? kMainRing : settings.rings.front();
      std::fprintf(stderr, "quarrin-server: published %s to the ring %s\n", version.c_str(),
                   ring.c_str());
      return 0;
    }
    if (command == "promote" && args.size() == 3) {
      site.Promote(args[1], args[2]);
      std::fprintf(stderr, "quarrin-server: the ring %s serves %s\n", args[2].c_str(),
                   args[1].c_str());
      return 0;
    }
  } catch (const UpdateSiteError& e) {
    return Fail(e.what());
  } catch (const SignatureError& e) {
    return Fail(std::string("update_key: ") + e.what());
  }
  PgPool pool(ConnectOptions(settings), settings.database_pool_size, settings.database_pool_wait,
              settings.database_pool_queue);
  try {
    if (command == "serve" && args.size() <= 1) return Serve(settings, pool);
    if (command == "migrate" && args.size() == 1) return MigrateNow(pool);
    if (command == "import-assets" && args.size() == 2) return ImportAssets(args[1], pool, settings);
    if (command == "add-user" && args.size() == 4 && args[2] == "--role") {
      return AddUser(args, pool, settings);
    }
  } catch (const MigrationError& e) {
    return Fail(e.what());
  } catch (const PgError& e) {
    return Fail(e.what());
  } catch (const StoreRejected& e) {
    return Fail(e.what());
  }
  return Usage();
}

}  // namespace
}  // namespace quarrin

int main(int argc, char** argv) { return quarrin::Main(argc, argv); }
