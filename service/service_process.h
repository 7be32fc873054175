// Running as the service process: the dispatcher thread takes the manager's
// control requests, the service thread runs the handlers and the loop, and
// the main thread is left for the window loop of the popup.
#ifndef QUARRIN_SERVICE_SERVICE_PROCESS_H_
#define QUARRIN_SERVICE_SERVICE_PROCESS_H_

#include <string>
#include <vector>

#include "core/event_writer.h"
#include "service/service_host.h"
#include "service/window_loop.h"

namespace quarrin {

// Runs the service until it has stopped; returns the exit status. When the
// process cannot connect to the service manager, the system's text goes to
// the host's process events and standard error, and the status is 1.
int RunServiceProcess(ServiceHost& host, ServiceHandlers& handlers, WindowLoop& window_loop);

// The command-line switches: a switch is an argument of "/" or "-" followed
// by the word, in any case.
struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
};
ServiceSwitches ParseServiceSwitches(const std::vector<std::string>& args);

// The text written when the process was started without a service manager.
inline constexpr char kDispatcherFailedText[] =
    "The service process could not connect to the service controller.";

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_SERVICE_PROCESS_H_
