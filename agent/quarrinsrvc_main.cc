// QuarrinSrvc: the installer of the agent's service and the service process.
//
//   QuarrinSrvc -INSTALL [-SILENT]     register the service
//   QuarrinSrvc -UNINSTALL [-SILENT]   remove it
//   QUARRIN_SCM=TARNQuarrinSrvc QuarrinSrvc
//                                      run as the service process (what the
//                                      service manager does; Ctrl-C stops it)
//   QuarrinSrvc -POPUP <event>         (Windows) a copy that the service starts
//                                      in the console user's session to show
//                                      a message
#include <memory>
#include <string>

#include "agent/agent_drawing.h"
#include "agent/agent_wiring.h"
#include "agent/quarrin_service.h"
#include "core/agent_metrics.h"
#include "core/event_writer.h"
#include "core/service_identity.h"
#include "platform/time/clock.h"
#include "platform/files/disk_space.h"
#include "platform/net/http_client.h"
#include "platform/system/memory.h"
#include "platform/ui/popup_session.h"
#include "popup/popup_copy.h"
#include "popup/session_popup_loop.h"
#include "service/service_program.h"

int main(int argc, char** argv) {
  using namespace quarrin;
  // Every HTTP connection has a thread of its own; two arenas keep the
  // heap from spreading over many (about 60 MB resident instead of 37 MB
  // after 100,000 requests).
  LimitHeapArenas(2);
  // Where the service has no desktop of its own (Windows), copies of this
  // program show the popup in the console user's session; this may be one.
  std::unique_ptr<PopupSessionLauncher> popup_launcher = NewSystemPopupSessionLauncher();
  if (popup_launcher && IsPopupCopy({argv, argv + argc})) return RunPopupCopy({argv, argv + argc});
  ServiceProgram program(argc, argv, {kServiceName, kServiceDisplayName, "QuarrinSrvc"});
  if (!program.Open()) return 1;

  const std::unique_ptr<Drawing> drawing = OpenAgentDrawing();
  // The main thread's loop; it owns the popup window and so outlives the
  // tasks that drive it. Set when the process runs as the service.
  std::unique_ptr<PopupLoop> window_loop;
  // A stop or shutdown abandons every outbound transfer at once.
  CancellingHttpClient http(SystemHttpClient(), program.host().stop_flag());
  // What the agent counts of its work, for /metrics; every entry written
  // through the facilities' event log is counted by type.
  AgentMetrics metrics(SystemClock());
  CountingEventLog event_log(program.event_log(), metrics);
  AgentFacilities facilities{program.registry(), event_log, SystemClock(), http,
                             program.manager(), &metrics};
  AgentWiring tasks(facilities, SystemDriveSpace(), *drawing);
  TTARNQuarrinSrvc service(facilities, tasks, program.host());
  tasks.Attach(&service);
  if (auto status = program.InstallOrCheck([&] { service.ServiceAfterInstall(); },
                                           [&] { service.ServiceAfterUninstall(); })) {
    return *status;
  }

  if (popup_launcher) {
    // A service's standard error goes nowhere; why a message was not shown
    // belongs in the event log.
    window_loop = std::make_unique<SessionPopupLoop>(
        *popup_launcher, [&log = event_log](const std::string& note) {
          EventWriter(log, kServiceName)
              .WriteEventLog(note, EventType::kWarning, 0, kPopupNotShownEventId);
        });
  } else {
    window_loop = OpenPopupLoop(*drawing);
  }
  tasks.SetPopupScreen(window_loop.get());
  const int exit_status = RunServiceProcess(program.host(), service, *window_loop);
  // A shutdown leaves the HTTP server running; it must not outlive the
  // service whose state its requests read.
  tasks.StopHttpServer();
  drawing->ReleaseFonts();
  return exit_status;
}
