#include "agent/agent_wiring.h"

#include "core/file_version.h"
#include "core/service_identity.h"
#include "disk/disk_history.h"
#include "disk/disk_map.h"
#include "inventory/pc_details.h"
#include "platform/paths.h"
#include "platform/regional_settings.h"
#include "report/inventory_report.h"
#include "report/workstation_lookup.h"

namespace quarrin {

AgentWiring::AgentWiring(AgentFacilities facilities, DiskSpaceSource& system_drive,
                         Drawing& drawing, HttpServerOptions server_options)
    : f_(facilities),
      events_(facilities.event_log, kServiceName),
      system_drive_(system_drive),
      drawing_(drawing),
      server_options_(server_options),
      drive_walk_(facilities.clock, [] { return MeasureDrive(SystemDriveRoot()); },
                  std::chrono::minutes(1)),
      server_([this](const HttpServerRequest& request, HttpServerReply& reply) {
        HTTPServerCommandGet(*context_, request, reply);
      }) {}

AgentWiring::~AgentWiring() { StopHttpServer(); }

void AgentWiring::CreatePopup() { popup_ = std::make_unique<PopupFacade>(popup_screen_); }

void AgentWiring::ReleasePopup() { popup_.reset(); }

bool AgentWiring::StartHttpServer(uint16_t port, std::string* error) {
  server_.Stop();
  auto context = std::make_unique<DispatcherContext>();
  context->registry = &f_.registry;
  context->clock = &f_.clock;
  context->events = &events_;
  context->system_drive = &system_drive_;
  context->popup = popup_.get();
  if (service_ != nullptr) {
    const AgentState& state = service_->state();
    context->syslog = service_->syslog();
    // The running program's version cannot change while it runs (a new
    // executable only takes over after a restart), so start-up's reading
    // serves every request.
    context->version_text = state.version_text;
    context->local_machine_name = state.local_machine_name;
    context->syslog_host = state.syslog_host;
    context->default_download_url = state.deployment.default_download_url;
  }
  context->check_for_update = [this](tFileUpdate& update) { CheckForUpdate(update); };
  context->report_pc_details = [this] { info_report_.TryStart(); };
  context->report_applications = [this] { ReportApplications(); };
  context->draw_chart = [this](const std::string& title, const std::vector<std::string>& labels,
                               const std::vector<double>& values) {
    return drawing_.DrawChart(title, labels, values);
  };
  context->map_disk = [this](const std::string& title) {
    return drawing_.DrawDiskMap(title, *drive_walk_.Get());
  };
  context_ = std::move(context);

  HttpServerOptions options = server_options_;
  options.port = port;
  return server_.Start(options, error);
}

void AgentWiring::StopHttpServer() {
  server_.Stop();
  // The report reads the service's state, which does not outlive the stop.
  info_report_.Wait();
}

void AgentWiring::CollectPCDetails() {
  tPCDetails details;
  quarrin::CollectPCDetails(f_.registry, &details);
}

void AgentWiring::ReleaseDownloadBuffer() { download_buffer_.Release(); }

void AgentWiring::CheckForUpdate(tFileUpdate& update) {
  if (service_ == nullptr) return;
  // Two checks never download at once: the buffer lets one in and the
  // other returns at once.
  UpdateContext context;
  context.http = &f_.http;
  context.registry = &f_.registry;
  context.service_manager = &f_.service_manager;
  context.events = &events_;
  context.syslog = service_->syslog();
  context.buffer = &download_buffer_;
  context.exe_path = ExecutablePath();
  context.current = GetFileVersion("");
  context.download_url = service_->state().attributes().DownloadURL;
  quarrin::CheckForUpdate(context, &update);
}

ReportingContext AgentWiring::Reporting() {
  ReportingContext c;
  c.registry = &f_.registry;
  c.events = &events_;
  c.http = &f_.http;
  c.clock = &f_.clock;
  c.state = service_ ? &service_->state() : nullptr;
  return c;
}

void AgentWiring::LookupWorkstation() {
  if (service_) quarrin::LookupWorkstation(Reporting());
}

void AgentWiring::ReportPCDetails() {
  if (service_) quarrin::ReportPCDetails(Reporting());
}

void AgentWiring::ReportApplications() {
  if (service_) quarrin::ReportApplications(Reporting());
}

void AgentWiring::SampleDisk() {
  const size_t unreadable = quarrin::SampleDisk(f_.registry, f_.clock,
                                                ReadRegionalSettings(f_.registry), system_drive_);
  if (unreadable == 0) return;
  events_.WriteEventLog(GetFileVersion("").Text + " Deleted " + std::to_string(unreadable) +
                            " disk samples whose names are not times under the current or the "
                            "remembered regional settings.",
                        EventType::kWarning, 0, kUnreadableSamplesEventId);
}

void AgentWiring::RollUp(DateTime slot) {
  quarrin::RollUp(f_.registry, slot, ReadRegionalSettings(f_.registry));
}

}  // namespace quarrin
