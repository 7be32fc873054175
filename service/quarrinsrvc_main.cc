// QuarrinSrvc: the installer of the agent's service and the service process.
//
//   QuarrinSrvc -INSTALL [-SILENT]     register the service
//   QuarrinSrvc -UNINSTALL [-SILENT]   remove it
//   QUARRIN_SCM=TARNQuarrinSrvc QuarrinSrvc
//                                      run as the service process (what the
//                                      service manager does; Ctrl-C stops it)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "http/headless_popup_loop.h"
#include "platform/clock.h"
#include "platform/disk_space.h"
#include "platform/event_log.h"
#include "platform/http_client.h"
#include "platform/paths.h"
#include "platform/registry_open.h"
#include "platform/service_manager.h"
#include "service/agent_wiring.h"
#include "service/control_queue.h"
#include "service/installer.h"
#include "service/module_drawing.h"
#include "service/quarrin_service.h"
#include "service/service_identity.h"
#include "service/service_process.h"

// The drawing module, embedded at build time.
extern "C" const unsigned char quarrin_drawing_module_begin[];
extern "C" const unsigned char quarrin_drawing_module_end[];

namespace {

// The popup's loop: the window's own on the display named by DISPLAY,
// otherwise one that only keeps the popup's state.
std::unique_ptr<quarrin::PopupLoop> OpenPopupLoop(quarrin::Drawing& drawing) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::fprintf(stderr, "Message popup: DISPLAY is not set; messages are kept but not shown\n");
    return std::make_unique<quarrin::HeadlessPopupLoop>();
  }
  try {
    return drawing.NewPopupLoop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Message popup: %s; messages are kept but not shown\n", e.what());
    return std::make_unique<quarrin::HeadlessPopupLoop>();
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quarrin;
  ServiceSwitches switches = ParseServiceSwitches(std::vector<std::string>(argv + 1, argv + argc));
  bool as_service = !switches.install && !switches.uninstall;
  // Before any thread exists, so that only the signal thread takes them.
  if (as_service) BlockControlSignals();

  MakeDirs(StateDir());
  std::unique_ptr<EventLog> event_log = OpenEventLog(EventLogDbPath());
  OpenedRegistry registry;
  try {
    registry = OpenDefaultRegistry();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "QuarrinSrvc: %s\n", e.what());
    EventWriter(*event_log, as_service ? kServiceName : ExecutableName())
        .WriteEventLog(e.what(), EventType::kError, 0, 0);
    return 1;
  }

  std::unique_ptr<ServiceManager> manager = MakeServiceManager(registry.store());
  ModuleDrawing drawing(quarrin_drawing_module_begin,
                        static_cast<size_t>(quarrin_drawing_module_end - quarrin_drawing_module_begin));
  // The main thread's loop; it owns the popup window and so outlives the
  // tasks that drive it. Set when the process runs as the service.
  std::unique_ptr<PopupLoop> window_loop;
  AgentFacilities facilities{registry.store(), *event_log, SystemClock(), CurlHttpClient(),
                             *manager};
  AgentWiring tasks(facilities, SystemDriveSpace(), drawing);
  ControlQueue queue;
  SystemLoopWaiter waiter(queue, SystemClock());
  std::unique_ptr<StatusReporter> status = MakeStatusReporter(kServiceName);
  EventWriter host_events(*event_log, kServiceName);
  ServiceHost host(host_events, *status, queue, waiter);
  TTARNQuarrinSrvc service(facilities, tasks, host);
  tasks.Attach(&service);

  InstallRequest request;
  request.name = kServiceName;
  request.display_name = kServiceDisplayName;
  request.image_path = ExecutablePath();
  request.silent = switches.silent;
  request.after_install = [&] { service.ServiceAfterInstall(); };
  request.after_uninstall = [&] { service.ServiceAfterUninstall(); };
  if (switches.install) {
    return InstallService(registry.store(), *manager, request, std::cout, std::cerr);
  }
  if (switches.uninstall) {
    return UninstallService(registry.store(), *manager, request, std::cout, std::cerr);
  }

  if (!StartedByServiceManager(kServiceName)) {
    EventWriter(*event_log, ExecutableName())
        .WriteEventLog(kDispatcherFailedText, EventType::kError, 0, 0);
    std::fprintf(stderr, "QuarrinSrvc: %s\n", kDispatcherFailedText);
    return 1;
  }
  window_loop = OpenPopupLoop(drawing);
  tasks.SetPopupScreen(window_loop.get());
  const int exit_status = RunServiceProcess(host, service, *window_loop);
  // A shutdown leaves the HTTP server running; it must not outlive the
  // service whose state its requests read.
  tasks.StopHttpServer();
  return exit_status;
}
