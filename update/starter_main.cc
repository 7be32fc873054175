// TARNStartSrvc: the starter service that installs a downloaded agent and
// restarts it.
//
//   TARNStartSrvc -INSTALL [-SILENT]     register the service
//   TARNStartSrvc -UNINSTALL [-SILENT]   remove it
//   QUARRIN_SCM=TARNStartSrvc TARNStartSrvc
//                                        run as the service process (what the
//                                        service manager does when the agent
//                                        hands an update over)
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/paths.h"
#include "platform/registry_open.h"
#include "platform/service_manager.h"
#include "service/control_queue.h"
#include "service/installer.h"
#include "service/service_identity.h"
#include "service/service_process.h"
#include "update/starter_service.h"

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
    std::fprintf(stderr, "TARNStartSrvc: %s\n", e.what());
    EventWriter(*event_log, as_service ? kStarterServiceName : ExecutableName())
        .WriteEventLog(e.what(), EventType::kError, 0, 0);
    return 1;
  }

  std::unique_ptr<ServiceManager> manager = MakeServiceManager(registry.store());
  ControlQueue queue;
  SystemLoopWaiter waiter(queue, SystemClock());
  std::unique_ptr<StatusReporter> status = MakeStatusReporter(kStarterServiceName);
  EventWriter host_events(*event_log, kStarterServiceName);
  ServiceHost host(host_events, *status, queue, waiter);
  StarterService service(registry.store(), *event_log, *manager, &host);

  InstallRequest request;
  request.name = kStarterServiceName;
  request.display_name = kStarterDisplayName;
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

  if (!StartedByServiceManager(kStarterServiceName)) {
    EventWriter(*event_log, ExecutableName())
        .WriteEventLog(kDispatcherFailedText, EventType::kError, 0, 0);
    std::fprintf(stderr, "TARNStartSrvc: %s\n", kDispatcherFailedText);
    return 1;
  }
  WindowLoop window_loop;
  return RunServiceProcess(host, service, window_loop);
}
