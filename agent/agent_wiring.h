// The composition root of the running agent: the AgentTasks that the
// service's start-up, stop handler and main loop call, wired to the real
// subsystems. It owns the HTTP server and the message popup and gives the
// request dispatcher its view of the service.
#ifndef QUARRIN_AGENT_AGENT_WIRING_H_
#define QUARRIN_AGENT_AGENT_WIRING_H_

#include <memory>
#include <string>

#include "agent/agent_tasks.h"
#include "agent/drawing.h"
#include "agent/quarrin_service.h"
#include "core/one_at_a_time.h"
#include "core/shared_result.h"
#include "disk/disk_map.h"
#include "http/client_access.h"
#include "http/dispatcher.h"
#include "http/http_server.h"
#include "platform/files/disk_space.h"
#include "popup/popup_facade.h"
#include "report/reporting_context.h"
#include "update/update_check.h"

namespace quarrin {

// The warning that a sample deleted day-series values whose names are not
// times under any regional formats the agent knows.
inline constexpr uint32_t kUnreadableSamplesEventId = 105;
// The warning that a message could not be shown in the console user's
// session (Windows: no user logged on, or the session copy failed).
inline constexpr uint32_t kPopupNotShownEventId = 106;

class AgentWiring final : public AgentTasks {
 public:
  // `server_options` gives the HTTP server's limits; its port is replaced by
  // the one StartHttpServer is given. `drawing` draws the charts.
  AgentWiring(AgentFacilities facilities, DiskSpaceSource& system_drive, Drawing& drawing,
              HttpServerOptions server_options = {});
  ~AgentWiring() override;

  // The service whose start-up state the dispatcher reads.
  // REQUIRES: called before the service starts; `service` outlives this.
  void Attach(TTARNQuarrinSrvc* service) { service_ = service; }
  // Where the popup is drawn; without one it only keeps its state.
  // REQUIRES: called before the service starts; `screen` outlives this.
  void SetPopupScreen(PopupScreen* screen) { popup_screen_ = screen; }

  void CreatePopup() override;
  // REQUIRES: the HTTP server is stopped (the stop handler stops it first).
  void ReleasePopup() override;
  // Reads the service's state as start-up left it: everything the
  // dispatcher needs is written before this step and only read afterwards.
  // The Deployment settings HTTPAddress, AllowedClients, AllowedReaders,
  // HTTPCertificateFile and HTTPKeyFile, or HTTPCertificateThumbprint, or
  // HTTPPfxFile and HTTPPfxPassword apply; one that cannot be used
  // keeps the server from starting (never open when it was meant closed).
  bool StartHttpServer(uint16_t port, std::string* error) override;
  // Also waits for the report an info request started (its calls have
  // their own time-outs).
  void StopHttpServer() override;
  // One collection of the machine's details; the record is dropped, only a
  // failure (an exception) counts.
  void CollectPCDetails() override;
  // Gives the download buffer's memory back; waits for a running check.
  void ReleaseDownloadBuffer() override;
  // The update check of the running agent: kFailed when the manifest could
  // not be read or the download failed, kSkipped when another check ran.
  StepOutcome CheckForUpdate(tFileUpdate& update) override;
  StepOutcome LookupWorkstation() override;
  StepOutcome ReportPCDetails() override;
  StepOutcome ReportApplications() override;
  // Writes a warning when the sample deleted values whose names are not times.
  void SampleDisk() override;
  void RollUp(DateTime slot) override;

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
  DownloadBuffer download_buffer_;
  PopupScreen* popup_screen_ = nullptr;
  std::unique_ptr<PopupFacade> popup_;
  // The report that an info request starts once its document is built: in
  // the background, so that no reply waits for the web service, and one at
  // a time, so that requests never pile reports up.
  OneAtATime info_report_{[this] { ReportPCDetails(); }};
  // The disk map's walk of the drive: one at a time, shared by the requests
  // that come during it, and served again for a minute.
  SharedResult<std::vector<FolderBar>> drive_walk_;
  // Built when the server starts; read by the connection threads only.
  std::unique_ptr<const DispatcherContext> context_;
  std::unique_ptr<const ClientAccess> access_;
  RefusalLog refusals_;
  HttpServer server_;
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_AGENT_WIRING_H_
