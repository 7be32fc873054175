// The agent's service class: its handlers, its start-up and the main loop
// that drives every periodic run.
#ifndef QUARRIN_AGENT_QUARRIN_SERVICE_H_
#define QUARRIN_AGENT_QUARRIN_SERVICE_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "agent/agent_tasks.h"
#include "core/agent_metrics.h"
#include "core/agent_state.h"
#include "core/attributes.h"
#include "core/deployment.h"
#include "core/event_writer.h"
#include "platform/time/clock.h"
#include "platform/eventlog/event_log.h"
#include "platform/net/http_client.h"
#include "platform/regional/regional_settings.h"
#include "platform/registry/registry_store.h"
#include "platform/service/service_manager.h"
#include "service/schedule.h"
#include "service/service_host.h"

namespace quarrin {

// The reason the HTTP service did not start, written after the fixed entry
// that says so (error).
inline constexpr uint32_t kHttpStartFailureEvent = 7;

class Syslog;
struct SyslogMessage;

// The facilities the agent runs on. All must outlive the service.
struct AgentFacilities {
  RegistryStore& registry;
  EventLog& event_log;
  Clock& clock;
  HttpClient& http;
  ServiceManager& service_manager;
  // Where the agent counts its work; null: the service keeps its own.
  AgentMetrics* metrics = nullptr;
};


class TTARNQuarrinSrvc final : public ServiceHandlers {
 public:
  TTARNQuarrinSrvc(AgentFacilities facilities, AgentTasks& tasks, ServiceHost& host);
  ~TTARNQuarrinSrvc() override;

  void ServiceStart(bool& started) override;
  void ServiceExecute() override;
  void ServiceStop(bool& stopped) override;
  void ServiceShutdown() override;
  // Run by the installing process after the service was registered or removed.
  void ServiceAfterInstall();
  void ServiceAfterUninstall();

  AgentState& state() { return state_; }
  const EventWriter& events() const { return events_; }
  // The syslog sender; null until start-up has read the deployment settings.
  Syslog* syslog() { return syslog_.get(); }
  AgentMetrics& metrics() { return metrics_; }
  const Schedule& schedule() const { return schedule_; }
  // For tests: makes the daily run's random delay repeatable.
  void SeedRandom(uint32_t seed) { random_.seed(seed); }

 private:
  void StartUp();
  void Loop();
  void DailyRun();
  void FiveMinuteRun();
  std::string VersionText() const;
  void SendToCollector(const SyslogMessage& message);

  AgentFacilities f_;
  AgentTasks& tasks_;
  ServiceHost& host_;
  EventWriter events_;
  AgentMetrics own_metrics_;
  AgentMetrics& metrics_;
  AgentState state_;
  std::unique_ptr<Syslog> syslog_;
  Schedule schedule_;
  tFileUpdate update_result_;
  std::mt19937 random_;
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_QUARRIN_SERVICE_H_
