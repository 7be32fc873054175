// The composition root of the running agent: the AgentTasks that the
// service's start-up, stop handler and main loop call, wired to the real
// subsystems. It owns the HTTP server and the message popup and gives the
// request dispatcher its view of the service.
#ifndef QUARRIN_AGENT_AGENT_WIRING_H_
#define QUARRIN_AGENT_AGENT_WIRING_H_

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "agent/agent_tasks.h"
#include "agent/drawing.h"
#include "agent/quarrin_service.h"
#include "http/client_access.h"
#include "http/dispatcher.h"
#include "http/http_server.h"
#include "platform/disk_space.h"
#include "popup/popup_facade.h"
#include "report/reporting_context.h"
#include "update/update_check.h"

namespace quarrin {

class AgentWiring final : public AgentTasks {
 public:
  // Work that later parts of the agent plug in. Each does nothing while
  // empty. They may run on the service thread and on HTTP threads at once,
  // except the update check, which never runs twice at the same time.
  struct Hooks {
    std::function<void(tFileUpdate&)> check_for_update;
    std::function<void()> lookup_workstation;
    std::function<void()> report_pc_details;
    std::function<void()> report_applications;
    std::function<void()> sample_disk;
    std::function<void()> roll_up;
  };

  // `server_options` gives the HTTP server's limits; its port is replaced by
  // the one StartHttpServer is given. `drawing` draws the charts.
  AgentWiring(AgentFacilities facilities, DiskSpaceSource& system_drive, Drawing& drawing,
              HttpServerOptions server_options = {});
  ~AgentWiring() override;

  // The service whose start-up state the dispatcher reads.
  // REQUIRES: called before the service starts; `service` outlives this.
  void Attach(TTARNQuarrinSrvc* service) { service_ = service; }
  // REQUIRES: called before the service starts.
  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
  // Where the popup is drawn; without one it only keeps its state.
  // REQUIRES: called before the service starts; `screen` outlives this.
  void SetPopupScreen(PopupScreen* screen) { popup_screen_ = screen; }

  void CreatePopup() override;
  // REQUIRES: the HTTP server is stopped (the stop handler stops it first).
  void ReleasePopup() override;
  // Reads the service's state as start-up left it: everything the
  // dispatcher needs is written before this step and only read afterwards.
  // The Deployment settings HTTPAddress, AllowedClients, AllowedReaders,
  // HTTPCertificateFile and HTTPKeyFile apply; one that cannot be used
  // keeps the server from starting (never open when it was meant closed).
  bool StartHttpServer(uint16_t port, std::string* error) override;
  void StopHttpServer() override;
  // One collection of the machine's details; the record is dropped, only a
  // failure (an exception) counts.
  void CollectPCDetails() override;
  // Gives the download buffer's memory back; waits for a running check.
  void ReleaseDownloadBuffer() override;
  // The update check of the running agent, unless a hook stands in for it.
  void CheckForUpdate(tFileUpdate& update) override;
  void LookupWorkstation() override;
  void ReportPCDetails() override;
  void ReportApplications() override;
  void SampleDisk() override;
  void RollUp() override;

  // Null before CreatePopup and after ReleasePopup.
  PopupFacade* popup() { return popup_.get(); }
  // The port the HTTP server listens on; 0 when it is not running.
  uint16_t http_port() const { return server_.port(); }

 private:
  ReportingContext Reporting();

  AgentFacilities f_;
  EventWriter events_;
  DiskSpaceSource& system_drive_;
  Drawing& drawing_;
  HttpServerOptions server_options_;
  TTARNQuarrinSrvc* service_ = nullptr;
  Hooks hooks_;
  std::mutex update_mu_;
  DownloadBuffer download_buffer_;
  PopupScreen* popup_screen_ = nullptr;
  std::unique_ptr<PopupFacade> popup_;
  // Built when the server starts; read by the connection threads only.
  std::unique_ptr<const DispatcherContext> context_;
  std::unique_ptr<const ClientAccess> access_;
  RefusalLog refusals_;
  HttpServer server_;
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_AGENT_WIRING_H_
