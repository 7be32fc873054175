// The fleet server: one HTTP port for the inventory service, the service
// desk's workstation lookup and the administrators' API, on one database.
//
//   /quarrin/quarrinws.dll/soap/IQuarrin, .../wsdl/IQuarrin   intake.h
//   GET /sdw.dll/WorkStations?WorkStationName=NAME            the register's
//        entry of NAME (any case, with or without domain suffix) as the
//        WORKSTATIONS document (assets.h); an empty one for an unknown name
//   /api/v1/...                                               read_api.h
//   GET /downloads/...                                        update_site.h
//   /console/...                                              console/console.h
//   GET /                                                     to the console
//
// Anything else is 404. A thread runs the scheduled jobs while this server
// holds their lease (job_lease.h), so that of several servers on one
// database one runs them: every few seconds it ends the quiet reports of
// applications (store.h), every hour it keeps the history and the syslog
// events in bounds (history_retention.h). The syslog collector
// (syslog_collector.h) listens on the UDP port of the settings.
#ifndef QUARRIN_SERVER_FLEET_SERVER_H_
#define QUARRIN_SERVER_FLEET_SERVER_H_

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "http/http_server.h"
#include "server/console/accounts.h"
#include "server/console/console.h"
#include "server/console/pages.h"
#include "server/intake.h"
#include "server/pg_pool.h"
#include "server/read_api.h"
#include "server/settings.h"
#include "server/store.h"
#include "server/syslog_collector.h"
#include "server/update_site.h"

namespace quarrin {

inline constexpr char kLookupPath[] = "/sdw.dll/WorkStations";

// The update site of the settings.
UpdateSiteOptions UpdateSiteOf(const ServerSettings& settings);

class FleetServer {
 public:
  // The pool must outlive the server.
  FleetServer(const ServerSettings& settings, PgPool& pool);
  ~FleetServer();  // Stop
  FleetServer(const FleetServer&) = delete;
  FleetServer& operator=(const FleetServer&) = delete;

  // Reads the TLS files, listens (HTTP, and syslog unless its port is 0)
  // and starts the sweeper. False with the reason when it cannot.
  bool Start(std::string* error);
  void Stop();
  uint16_t port() const { return http_.port(); }
  uint16_t syslog_port() const { return syslog_.port(); }

  void Handle(const HttpServerRequest& request, HttpServerReply& reply);

 private:
  void Lookup(const HttpServerRequest& request, HttpServerReply& reply);
  void RecordManifestFetch(const HttpServerRequest& request, const HttpServerReply& reply);
  std::string StatusJson() const;
  void Sweep();

  const ServerSettings settings_;
  PgPool& pool_;
  InventoryStore store_;
  SyslogCollector syslog_;
  UpdateSite site_;
  InventoryIntake intake_;
  ReadApi api_;
  ConsoleAccounts accounts_;
  ConsoleContext console_context_;
  Console console_;
  std::mutex mu_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread sweeper_;
  HttpServer http_;  // last: stopped before what its handler uses goes
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_FLEET_SERVER_H_
