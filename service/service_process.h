// Running as the service process: the signal thread stands in for the
// manager's dispatcher, the service thread runs the handlers and the loop,
// and the main thread is left for the window loop of the popup.
#ifndef QUARRIN_SERVICE_SERVICE_PROCESS_H_
#define QUARRIN_SERVICE_SERVICE_PROCESS_H_

#include <string>
#include <vector>

#include "core/event_writer.h"
#include "service/service_host.h"
#include "service/window_loop.h"

namespace quarrin {

// Blocks the control signals in the calling thread; call in main before any
// thread is created, so that only the signal thread receives them.
void BlockControlSignals();

// Runs the service until it has stopped; returns the exit status.
int RunServiceProcess(ServiceHost& host, ServiceHandlers& handlers, WindowLoop& window_loop);

// The command-line switches: a switch is an argument of "/" or "-" followed
// by the word, in any case.
struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
};
ServiceSwitches ParseServiceSwitches(const std::vector<std::string>& args);

// True when a service manager started this process for `service_name`
// (QUARRIN_SCM names it, compared without regard to case).
bool StartedByServiceManager(const std::string& service_name);

// The text written when the process was started without a service manager.
inline constexpr char kDispatcherFailedText[] =
    "The service process could not connect to the service controller.";

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_SERVICE_PROCESS_H_
