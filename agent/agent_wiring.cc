#include "agent/agent_wiring.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/file_version.h"
#include "core/service_identity.h"
#include "disk/disk_history.h"
#include "disk/disk_map.h"
#include "inventory/pc_details.h"
#include "platform/system/memory.h"
#include "platform/files/paths.h"
#include "platform/regional/regional_settings.h"
#include "report/inventory_report.h"
#include "report/workstation_lookup.h"

namespace quarrin {

namespace {

// The text of a PEM file named by a Deployment value.
std::string ReadPemFile(const char* setting, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error(std::string("Deployment value '") + setting + "': cannot read '" +
                             path + "': " + std::strerror(errno));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The server's address, access lists and TLS as the Deployment key sets them.
void ApplyDeployment(const DeploymentSettings& d, HttpServerOptions* options,
                     std::unique_ptr<const ClientAccess>* access) {
  *access = std::make_unique<const ClientAccess>(
      ClientAccess{AddressList::Parse("AllowedClients", d.allowed_clients),
                   AddressList::Parse("AllowedReaders", d.allowed_readers)});
  if (!d.http_address.empty()) options->address = d.http_address;
  if (d.http_certificate_file.empty() != d.http_key_file.empty()) {
    throw std::runtime_error(
        "Deployment values 'HTTPCertificateFile' and 'HTTPKeyFile' must be set together");
  }
  const int sources = !d.http_certificate_file.empty() + !d.http_certificate_thumbprint.empty() +
                      !d.http_pfx_file.empty();
  if (sources > 1) {
    throw std::runtime_error(
        "Deployment values 'HTTPCertificateFile', 'HTTPCertificateThumbprint' and 'HTTPPfxFile' "
        "each name the HTTPS certificate: set only one of them");
  }
  if (!d.http_certificate_file.empty()) {
    options->tls_certificate_pem = ReadPemFile("HTTPCertificateFile", d.http_certificate_file);
    options->tls_key_pem = ReadPemFile("HTTPKeyFile", d.http_key_file);
  }
  options->tls_certificate.thumbprint = d.http_certificate_thumbprint;
  options->tls_certificate.pfx_file = d.http_pfx_file;
  options->tls_certificate.pfx_password = d.http_pfx_password;
}

}  // namespace

AgentWiring::AgentWiring(AgentFacilities facilities, DiskSpaceSource& system_drive,
                         Drawing& drawing, HttpServerOptions server_options)
    : f_(facilities),
      events_(facilities.event_log, kServiceName),
      system_drive_(system_drive),
      drawing_(drawing),
      server_options_(server_options),
      drive_walk_(facilities.clock, [] { return MeasureDrive(SystemDriveRoot()); },
                  std::chrono::minutes(1)),
      refusals_(events_),
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
    context->metrics = &service_->metrics();
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
  HttpServerOptions options = server_options_;
  options.port = port;
  options.metrics = context->metrics;
  access_.reset();
  if (service_ != nullptr) {
    try {
      ApplyDeployment(service_->state().deployment, &options, &access_);
    } catch (const std::exception& e) {
      if (error) *error = e.what();
      return false;
    }
  }
  context->access = access_.get();
  context->refusals = &refusals_;
  context_ = std::move(context);
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

StepOutcome AgentWiring::CheckForUpdate(tFileUpdate& update) {
  if (service_ == nullptr) return StepOutcome::kSkipped;
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
  context.update_public_key = service_->state().deployment.update_public_key;
  context.metrics = &service_->metrics();
  switch (quarrin::CheckForUpdate(context, &update)) {
    case UpdateOutcome::kBusy:
      return StepOutcome::kSkipped;
    case UpdateOutcome::kDownloadFailed:
      return StepOutcome::kFailed;
    case UpdateOutcome::kNoUpdate:
      return update.Text.starts_with("Error: ") ? StepOutcome::kFailed : StepOutcome::kOk;
    case UpdateOutcome::kHandedOver:
    case UpdateOutcome::kManagedByPackage:
      return StepOutcome::kOk;
  }
  return StepOutcome::kFailed;
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

StepOutcome AgentWiring::LookupWorkstation() {
  return service_ ? quarrin::LookupWorkstation(Reporting()) : StepOutcome::kSkipped;
}

StepOutcome AgentWiring::ReportPCDetails() {
  return service_ ? quarrin::ReportPCDetails(Reporting()) : StepOutcome::kSkipped;
}

StepOutcome AgentWiring::ReportApplications() {
  return service_ ? quarrin::ReportApplications(Reporting()) : StepOutcome::kSkipped;
}

void AgentWiring::SampleDisk() {
  const size_t unreadable = quarrin::SampleDisk(f_.registry, f_.clock,
                                                ReadRegionalSettings(f_.registry), system_drive_);
  // The five-minute tick is also when the heap gives back what bursts of
  // requests and the daily run left free in it.
  ReleaseFreeHeap();
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
