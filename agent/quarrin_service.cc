#include "agent/quarrin_service.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "agent/startup_record.h"
#include "core/file_version.h"
#include "core/registry.h"
#include "core/service_identity.h"
#include "core/time_texts.h"
#include "diag/syslog.h"
#include "diag/syslog_catalogue.h"
#include "platform/text/ascii.h"
#include "platform/files/paths.h"
#include "service/installer.h"
#include "update/handover.h"
#include "update/manifest.h"
#include "update/update_check.h"

namespace quarrin {
TTARNQuarrinSrvc::TTARNQuarrinSrvc(AgentFacilities facilities, AgentTasks& tasks,
                                   ServiceHost& host)
    : f_(facilities),
      tasks_(tasks),
      host_(host),
      events_(facilities.event_log, kServiceName),
      own_metrics_(facilities.clock),
      metrics_(facilities.metrics != nullptr ? *facilities.metrics : own_metrics_),
      random_(static_cast<uint32_t>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count())) {
  state_.exe_name = ExecutableName();
}

TTARNQuarrinSrvc::~TTARNQuarrinSrvc() = default;

std::string TTARNQuarrinSrvc::VersionText() const { return GetFileVersion("").Text; }

void TTARNQuarrinSrvc::SendToCollector(const SyslogMessage& message) {
  if (syslog_) syslog_->Send(message);
}

void TTARNQuarrinSrvc::ServiceStart(bool& started) {
  // The collector is only known later in start-up, so in a freshly started
  // process this datagram goes nowhere.
  SendToCollector(ServiceStartMessage());
  started = true;
}

void TTARNQuarrinSrvc::ServiceStop(bool& stopped) {
  SendToCollector(ServiceStopMessage());
  tasks_.StopHttpServer();
  tasks_.DisconnectHttpClient();
  tasks_.ReleasePopup();
  tasks_.ReleaseDownloadBuffer();
  events_.WriteEventLog(VersionText() + " Service stopped.", EventType::kSuccess, 0, 2);
  stopped = true;
}

void TTARNQuarrinSrvc::ServiceShutdown() {
  events_.WriteEventLog(VersionText() + " Service shutdown", EventType::kInformation, 0, 4);
  SendToCollector(ServiceShutdownMessage());
}

void TTARNQuarrinSrvc::ServiceAfterInstall() {
  WriteAttributes(f_.registry, VersionText(), tRegAttributes{});
  AddEventLogSource(f_.registry, kServiceName);
}

void TTARNQuarrinSrvc::ServiceAfterUninstall() {
  RemoveEventLogSource(f_.registry, kServiceName);
  events_.WriteEventLog(VersionText() + " Service uninstalled.\r\n", EventType::kSuccess, 0, 1);
}

void TTARNQuarrinSrvc::ServiceExecute() {
  try {
    StartUp();
    Loop();
  } catch (const std::exception& e) {
    events_.WriteEventLog(std::string("E.Message1=") + e.what(), EventType::kError, 0, 999);
  } catch (...) {
    events_.WriteEventLog("E.Message1=unknown exception", EventType::kError, 0, 999);
  }
}

void TTARNQuarrinSrvc::StartUp() {
  // 1. Nothing to initialise for the thread's component runtime here.
  // Start-up writes its texts with the regional settings of this moment.
  const RegionalSettings regional = ReadRegionalSettings(f_.registry);
  // 2. The startup record.
  WriteStartupRecord(f_.registry, kAppName, f_.clock, regional);
  // 3, 4. Identity.
  state_.version_text = VersionText();
  state_.local_machine_name = LocalComputerName();
  state_.deployment = ReadDeploymentSettings(f_.registry);
  syslog_ = std::make_unique<Syslog>("", state_.deployment.syslog_port, f_.clock, regional,
                                     events_, &metrics_);
  // 5, 6. The popup and the download buffer.
  tasks_.CreatePopup();
  tasks_.CreateDownloadBuffer();
  // 7. One collection of the machine's details; only a failure matters.
  tasks_.CollectPCDetails();
  // 8, 9. One fetch of the manifest gives the debug switch and the syslog
  // collector: each fetch may wait its full time-out on a hanging server.
  const std::vector<std::string> manifest =
      ReadManifestValues(f_.http, state_.deployment.manifest_url, {"Debug", "Syslog"});
  // The debug switch: the manifest wins when it says on. Nothing acts on
  // it; the local setting is still read, as that creates it with its
  // default for administrators to find.
  if (UpperAscii(manifest[0]) != "ON") ReadLocalSetting(f_.registry, kAppName, "Debug", "Off");
  // The syslog collector, for the life of the process.
  state_.syslog_host = manifest[1];
  syslog_->SetHost(manifest[1]);
  // 10. The execute datagram.
  SendToCollector(ExecuteMessage(state_.exe_name, state_.version_text));
  // 11. A left-over update download. It is written into the program folder,
  // so that is where it is looked for, whatever the current directory.
  std::error_code ignored;
  std::filesystem::remove(DownloadPathBeside(ExecutablePath()), ignored);
  std::filesystem::remove(DownloadPathBeside(ExecutablePath()) + kSignatureSuffix, ignored);
  // 12. The attributes, written back with the current version.
  tRegAttributes attributes;
  ReadAttributes(f_.registry, state_.deployment.default_download_url, &attributes);
  state_.set_attributes(attributes);
  WriteAttributes(f_.registry, state_.version_text, attributes);
  // 13.
  events_.WriteEventLog(state_.version_text + " Service executed", EventType::kInformation, 0, 3);
  // 14. The program folder becomes the current directory.
  ProgramFolder();
  // 15. The HTTP server; start-up goes on without it when it cannot start.
  std::string port = std::to_string(state_.deployment.http_port);
  std::string error;
  if (tasks_.StartHttpServer(state_.deployment.http_port, &error)) {
    events_.WriteEventLog(state_.version_text + " HTTP service started on port " + port + ".",
                          EventType::kInformation, 0, 2);
  } else {
    events_.WriteEventLog(
        state_.version_text + " Failed to start HTTP service on port " + port + ".",
        EventType::kError, 0, 3);
    if (!error.empty()) {
      // Why, in an entry of its own after the fixed one.
      events_.WriteEventLog(state_.version_text + " HTTP service on port " + port + ": " + error,
                            EventType::kError, 0, kHttpStartFailureEvent);
      std::fprintf(stderr, "HTTP server on port %s: %s\n", port.c_str(), error.c_str());
    }
  }
  // 16. The schedule.
  schedule_.Start(f_.clock.Now());
}

void TTARNQuarrinSrvc::Loop() {
  while (!host_.StopRequested()) {
    host_.WaitUntil(schedule_.NextWake());
    host_.DeliverControlRequests();
    // A stop handled in this pass has released the popup and the download
    // buffer: no run may start after it.
    if (host_.StopRequested()) break;
    if (schedule_.DailyDue(f_.clock.Now())) DailyRun();
    // A stop posted meanwhile is handled before anything else starts.
    if (host_.StopPending()) continue;
    if (schedule_.SampleDue(f_.clock.Now())) FiveMinuteRun();
  }
}

void TTARNQuarrinSrvc::DailyRun() {
  // A stop abandons the run between its tasks (the transfers inside a task
  // end by the same flag); the next start runs it again.
  const std::pair<DailyStep, std::function<StepOutcome()>> steps[] = {
      {DailyStep::kUpdateCheck, [this] { return tasks_.CheckForUpdate(update_result_); }},
      {DailyStep::kLookup, [this] { return tasks_.LookupWorkstation(); }},
      {DailyStep::kDetailsReport, [this] { return tasks_.ReportPCDetails(); }},
      {DailyStep::kApplicationsReport, [this] { return tasks_.ReportApplications(); }},
  };
  metrics_.DailyRunStarted();
  for (const auto& [step, task] : steps) {
    if (host_.StopPending()) return;
    StepOutcome outcome = StepOutcome::kFailed;
    try {
      outcome = task();
    } catch (...) {
      metrics_.SetStepOutcome(step, StepOutcome::kFailed);
      throw;
    }
    metrics_.SetStepOutcome(step, outcome);
  }
  metrics_.DailyRunCompleted();
  std::uniform_int_distribution<int> seconds(0, kDailyRandomRangeSeconds - 1);
  schedule_.DailyDone(f_.clock.Now(), seconds(random_));
}

void TTARNQuarrinSrvc::FiveMinuteRun() {
  // The roll-ups due at this slot are written even when a long daily run
  // has made the sample late.
  const DateTime slot = schedule_.next_sample_time();
  tasks_.SampleDisk();
  tasks_.RollUp(slot);
  schedule_.SampleDone(f_.clock.Now());
}

}  // namespace quarrin
