// The frame every service executable shares: the switches, what it opens
// before anything else (state folder, event log, registry, service manager,
// the service host), and acting on -INSTALL and -UNINSTALL or checking that
// a service manager started it.
//
//   ServiceProgram program(argc, argv, {kStarterServiceName, kStarterDisplayName, "TARNStartSrvc"});
//   if (!program.Open()) return 1;
//   StarterService service(program.registry(), ...);
//   if (auto status = program.InstallOrCheck(...)) return *status;
//   return RunServiceProcess(program.host(), service, window_loop);
#ifndef QUARRIN_SERVICE_SERVICE_PROGRAM_H_
#define QUARRIN_SERVICE_SERVICE_PROGRAM_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/event_writer.h"
#include "platform/eventlog/event_log.h"
#include "platform/registry/registry_open.h"
#include "platform/service/service_manager.h"
#include "service/control_queue.h"
#include "service/service_host.h"
#include "service/service_process.h"

namespace quarrin {

struct ServiceProgramNames {
  std::string name;          // the service's name
  std::string display_name;  // its display name
  std::string program;       // leads the lines on standard error
};

class ServiceProgram {
 public:
  // Readies the process for control requests unless a switch asks to
  // install or uninstall: call before any thread exists.
  ServiceProgram(int argc, char** argv, ServiceProgramNames names);
  ~ServiceProgram();
  ServiceProgram(const ServiceProgram&) = delete;
  ServiceProgram& operator=(const ServiceProgram&) = delete;

  // Opens the state folder, the event log and the registry, then makes the
  // service manager and the host. False when the registry cannot be opened,
  // after saying why on standard error and in the event log.
  bool Open();

  // REQUIRES: Open returned true.
  EventLog& event_log() { return *event_log_; }
  RegistryStore& registry() { return registry_.store(); }
  ServiceManager& manager() { return *manager_; }
  ServiceHost& host() { return *host_; }

  // Installs or uninstalls when a switch asks for it (the hooks are the
  // service's after-install and after-uninstall handlers), or, without one,
  // checks that a service manager started the process. Returns the exit
  // status when the process is to end now; nothing when it is to run as
  // the service.
  std::optional<int> InstallOrCheck(std::function<void()> after_install,
                                    std::function<void()> after_uninstall);

 private:
  const ServiceProgramNames names_;
  const ServiceSwitches switches_;
  std::unique_ptr<EventLog> event_log_;
  OpenedRegistry registry_;
  std::unique_ptr<ServiceManager> manager_;
  std::unique_ptr<ControlQueue> queue_;
  std::unique_ptr<SystemLoopWaiter> waiter_;
  std::unique_ptr<StatusReporter> status_;
  std::unique_ptr<EventWriter> host_events_;
  std::unique_ptr<EventWriter> process_events_;
  std::unique_ptr<ServiceHost> host_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_SERVICE_PROGRAM_H_
