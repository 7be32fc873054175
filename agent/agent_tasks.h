// The work that the service's start-up, stop handler and main loop hand to
// the other subsystems. Each hook does nothing by default, so the service
// runs before every subsystem is wired in and tests can count the calls.
#ifndef QUARRIN_AGENT_AGENT_TASKS_H_
#define QUARRIN_AGENT_AGENT_TASKS_H_

#include <cstdint>
#include <string>

#include "core/agent_metrics.h"
#include "core/file_version.h"
#include "platform/time/date_time.h"

namespace quarrin {

class AgentTasks {
 public:
  virtual ~AgentTasks() = default;

  // Long-lived objects created at start-up and released by the stop handler.
  virtual void CreatePopup() {}
  virtual void ReleasePopup() {}
  virtual void CreateDownloadBuffer() {}
  virtual void ReleaseDownloadBuffer() {}
  // Starts the HTTP server on `port`; false with the reason when it cannot.
  virtual bool StartHttpServer(uint16_t /*port*/, std::string* /*error*/) { return true; }
  virtual void StopHttpServer() {}
  virtual void DisconnectHttpClient() {}

  // One collection of the machine's details at start-up; only its failure counts.
  virtual void CollectPCDetails() {}

  // The daily run, in this order; each tells how it ended.
  virtual StepOutcome CheckForUpdate(tFileUpdate& /*update*/) { return StepOutcome::kOk; }
  virtual StepOutcome LookupWorkstation() { return StepOutcome::kOk; }
  virtual StepOutcome ReportPCDetails() { return StepOutcome::kOk; }
  virtual StepOutcome ReportApplications() { return StepOutcome::kOk; }

  // The five-minute run, in this order. `slot` is the five-minute boundary
  // the run was due at, however late it runs.
  virtual void SampleDisk() {}
  virtual void RollUp(DateTime /*slot*/) {}
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_AGENT_TASKS_H_
