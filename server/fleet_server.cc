#include "server/fleet_server.h"

#include <algorithm>

#include "platform/files/file_io.h"
#include "server/console/fleet_counts.h"
#include "server/history_retention.h"
#include "server/job_lease.h"
#include "server/query_text.h"
#include "server/server_log.h"

namespace quarrin {

namespace {

constexpr std::chrono::seconds kSweepInterval{5};
// Long against a round of the jobs, short enough that another server takes
// over soon after the holder died.
constexpr std::chrono::seconds kLeaseTerm{60};
constexpr std::chrono::minutes kRetentionInterval{60};
constexpr size_t kMaxPemBytes = 1u << 20;

IntakeOptions IntakeOf(const ServerSettings& s) {
  return {s.accepted_callers, s.intake_allowed_clients, !s.tls_certificate.empty()};
}

constexpr std::chrono::seconds kRolloutCheckInterval{60};

void NotFound(HttpServerReply& reply, const std::string& path) {
  reply.status = 404;
  reply.content_type = "text/plain";
  reply.body = "Not Found: " + path + "\r\n";
}

}  // namespace

UpdateSiteOptions UpdateSiteOf(const ServerSettings& s) {
  return {s.downloads_folder, s.rings, s.update_key, s.manifest_debug, s.manifest_syslog};
}

AgentLinkOptions AgentLinkOf(const ServerSettings& s) {
  return {s.agent_port, s.agent_connect_timeout, s.agent_read_timeout, s.agent_update_timeout,
          s.agent_max_bytes};
}

RolloutGuardOptions RolloutGuardOf(const ServerSettings& s) {
  return {s.rollout_halt_machines, s.rollout_halt_percent, s.rollout_silent};
}

FleetServer::FleetServer(const ServerSettings& settings, PgPool& pool)
    : settings_(settings),
      pool_(pool),
      store_(pool, settings.report_quiet_period),
      syslog_(pool, {settings.listen_address, settings.syslog_port}),
      site_(UpdateSiteOf(settings)),
      intake_(store_, IntakeOf(settings)),
      api_(store_, settings.api_tokens, [this] { return StatusJson(); }),
      agent_client_(CurlHttpClient(), stopping_agents_),
      agents_(agent_client_, AgentLinkOf(settings)),
      audit_(pool),
      actions_(store_, audit_, agents_, settings.agent_date_format),
      rollouts_(pool, site_, RolloutGuardOf(settings)),
      accounts_(pool, {settings.console_session_idle, settings.console_session_lifetime}),
      console_context_{pool, store_, site_, settings_},
      console_(accounts_, !settings.tls_certificate.empty()),
      agent_console_{store_, agents_, actions_, audit_, settings.audit_retention_days},
      http_([this](const HttpServerRequest& request, HttpServerReply& reply) {
        Handle(request, reply);
      }) {
  AddConsolePages(console_, console_context_);
  AddAgentPages(console_, agent_console_);
  AddActionPages(console_, agent_console_);
  AddAuditPages(console_, agent_console_);
  AddRolloutPages(console_, site_);
}

FleetServer::~FleetServer() { Stop(); }

bool FleetServer::Start(std::string* error) {
  HttpServerOptions options;
  options.port = settings_.port;
  options.address = settings_.listen_address;
  options.max_body_bytes = std::max(settings_.max_body_bytes, settings_.console_upload_max_bytes);
  options.methods = {"GET", "POST", "HEAD", "PUT"};
  // Agents report in bursts after a mass restart; a place for each of them
  // to wait costs a descriptor, not a thread.
  options.connection_limit = settings_.max_connections;
  options.per_client_limit = 16;
  // Past that the agent is told as when the database is busy.
  options.retry_after = std::chrono::seconds(kIntakeBusyRetrySeconds);
  options.busy_content_type = kIntakeBusyType;
  options.busy_body = IntakeBusyFault();
  // The intake's calls past what the database pool takes are turned away as
  // they arrive, for a reply and no thread; the console, the lookups and
  // the downloads keep the rest of the places.
  options.in_lane = &InventoryIntake::IsCall;
  options.lane_limit = settings_.intake_connections != 0
                           ? settings_.intake_connections
                           : settings_.database_pool_size + settings_.database_pool_queue;
  if (!settings_.tls_certificate.empty()) {
    for (const auto& [path, pem] : {std::pair{settings_.tls_certificate, &options.tls_certificate_pem},
                                    std::pair{settings_.tls_key, &options.tls_key_pem}}) {
      if (const int e = ReadFileCapped(path, kMaxPemBytes, pem); e != 0) {
        *error = ErrnoMessage(path, e);
        return false;
      }
    }
  }
  if (settings_.syslog_port != 0 && !syslog_.Start(error)) return false;
  if (!http_.Start(options, error)) {
    syslog_.Stop();
    return false;
  }
  {
    std::lock_guard lock(mu_);
    stopping_ = false;
  }
  stopping_agents_.Clear();
  sweeper_ = std::thread([this] { Sweep(); });
  return true;
}

void FleetServer::Stop() {
  stopping_agents_.Set();
  http_.Stop();
  syslog_.Stop();
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  stop_.notify_all();
  if (sweeper_.joinable()) sweeper_.join();
}

void FleetServer::Sweep() {
  JobLease lease(pool_, "scheduled jobs", RandomHolderName(), kLeaseTerm);
  bool held = false;
  std::chrono::steady_clock::time_point next_retention{};  // on the first round held
  auto next_rollout_check = std::chrono::steady_clock::now();
  std::unique_lock lock(mu_);
  while (!stop_.wait_for(lock, kSweepInterval, [this] { return stopping_; })) {
    lock.unlock();
    try {
      const bool was_held = held;
      held = lease.Hold();
      if (held != was_held) {
        ServerLog(std::string(held ? "runs" : "no longer runs") + " the scheduled jobs (lease " +
                  lease.holder() + ")");
      }
      if (held) {
        while (store_.CloseQuietReports() > 0) {
        }
        if (std::chrono::steady_clock::now() >= next_retention) {
          for (const std::string& month : KeepHistoryInBounds(
                   pool_, {settings_.history_retention_days, settings_.events_retention_days})) {
            ServerLog("retention: dropped " + month);
          }
          // In batches, so that a large backlog never holds a long transaction.
          while (audit_.DeleteOld(settings_.audit_retention_days) > 0) {
          }
          next_retention = std::chrono::steady_clock::now() + kRetentionInterval;
        }
        while (accounts_.DeleteExpiredSessions() > 0) {
        }
        DeleteEmptyCounts(pool_);
      }
    } catch (const PgError& e) {
      ServerLog(std::string("scheduled jobs: ") + e.what());
    }
    if (held && std::chrono::steady_clock::now() >= next_rollout_check) {
      next_rollout_check = std::chrono::steady_clock::now() + kRolloutCheckInterval;
      try {
        for (const std::string& ring : rollouts_.Check()) {
          ServerLog("halted the rollout of the ring " + ring + ": " + RolloutStateText(site_, ring));
        }
      } catch (const std::exception& e) {
        ServerLog(std::string("checking the rollouts: ") + e.what());
      }
    }
    lock.lock();
  }
}

void FleetServer::Handle(const HttpServerRequest& request, HttpServerReply& reply) {
  // Only the console takes bodies up to its upload size.
  if (request.FormParams.size() > settings_.max_body_bytes && !Console::Serves(request.Path)) {
    reply.status = 413;
    reply.content_type = "text/plain";
    reply.body = "the body is larger than " + std::to_string(settings_.max_body_bytes) + " bytes\r\n";
    return;
  }
  if (InventoryIntake::Serves(request.Path)) return intake_.Handle(request, reply);
  if (ReadApi::Serves(request.Path)) return api_.Handle(request, reply);
  if (request.Path == kLookupPath) return Lookup(request, reply);
  if (UpdateSite::Serves(request.Path)) {
    site_.Handle(request, reply);
    return RecordManifestFetch(request, reply);
  }
  if (Console::Serves(request.Path)) return console_.Handle(request, reply);
  if (request.Path == "/") {
    reply.status = 303;
    reply.content_type = "text/plain";
    reply.body = "See /console/fleet\r\n";
    reply.headers = {{"Location", "/console/fleet"}};
    return;
  }
  NotFound(reply, request.Path);
}

// A manifest served tells which ring the machine of its address is in.
void FleetServer::RecordManifestFetch(const HttpServerRequest& request, const HttpServerReply& reply) {
  const std::optional<std::string> ring = UpdateSite::ManifestRing(request.Path);
  if (!ring || reply.status != 200 || request.RemoteIP.empty()) return;
  try {
    PgPool::Lease db = pool_.Acquire();
    db->Exec("INSERT INTO machine_rings (machine_id, ring, fetched)"
             " SELECT id, $2, now() FROM machines WHERE last_address = $1::inet"
             " ON CONFLICT (machine_id) DO UPDATE SET ring = excluded.ring, fetched = excluded.fetched",
             {request.RemoteIP, *ring});
  } catch (const PgError& e) {
    ServerLog(std::string("recording the ring of ") + request.RemoteIP + ": " + e.what());
  }
}

void FleetServer::Lookup(const HttpServerRequest& request, HttpServerReply& reply) {
  reply.content_type = "text/xml; charset=utf-8";
  if (request.Command != "GET" && request.Command != "HEAD") {
    reply.status = 405;
    reply.content_type = "text/plain";
    reply.body = "the workstation lookup is read with GET\r\n";
    reply.headers = {{"Allow", "GET, HEAD"}};
    return;
  }
  const std::optional<std::string> name = QueryParameter(request.QueryParams, "WorkStationName");
  if (!name) {
    reply.status = 400;
    reply.content_type = "text/plain";
    reply.body = "the lookup needs WorkStationName=<name>\r\n";
    return;
  }
  try {
    reply.body = WorkstationsDocument(store_.FindAsset(*name));
  } catch (const PgPoolExhausted&) {
    reply.status = 503;
    reply.content_type = "text/plain";
    reply.body = "the register is busy; try again later\r\n";
    reply.headers = {{"Retry-After", "30"}};
  } catch (const PgError& e) {
    ServerLog(std::string("lookup of ") + *name + ": " + e.what());
    reply.status = 500;
    reply.content_type = "text/plain";
    reply.body = "the register could not be read\r\n";
  }
}

std::string FleetServer::StatusJson() const {
  const SyslogCounters s = syslog_.counters();
  return "{\"intake\":{\"stored\":" + std::to_string(intake_.stored()) +
         ",\"faults\":" + std::to_string(intake_.faults()) + "},\"syslog\":{\"port\":" +
         std::to_string(syslog_.port()) + ",\"received\":" + std::to_string(s.received) +
         ",\"stored\":" + std::to_string(s.stored) + ",\"dropped\":" + std::to_string(s.dropped) +
         ",\"refused\":" + std::to_string(s.refused) + "}}";
}

}  // namespace quarrin
