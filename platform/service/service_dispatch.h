// The service process's side of the service manager: how the process meets
// the manager and where its control requests come from.
//
// On Linux the control requests are signals taken by the dispatching thread
// (see service_manager.h). On Windows the process connects to the service
// control manager, whose control handler forwards them; a process started
// in the foreground with QUARRIN_SCM naming the service takes Ctrl+C (and
// closing its console) as stop and the system's shutdown as shutdown.
#ifndef QUARRIN_PLATFORM_SERVICE_SERVICE_DISPATCH_H_
#define QUARRIN_PLATFORM_SERVICE_SERVICE_DISPATCH_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quarrin {

// Readies the process for control requests; call in main before any thread
// exists (on Linux it blocks the control signals, so that only the
// dispatching thread takes them).
void PrepareServiceControl();

// False when a service manager surely did not start this process for
// `service_name`, which then is not to run as the service. On Linux the
// manager names the service in QUARRIN_SCM (compared without regard to
// case); on Windows only the connection itself tells (DispatchService).
bool StartedByServiceManager(const std::string& service_name);

// Connects to the manager for the one service `service_name` of this
// process and runs its dispatcher on the calling thread: every control code
// goes to `control` (which must only queue it), while `run`, the service's
// life from start pending to stopped, runs on a thread of its own. Returns
// once `run` has returned, or at once with the system's text when the
// process could not connect to the manager (`run` is then not called).
std::optional<std::string> DispatchService(const std::string& service_name,
                                           const std::function<void(uint32_t)>& control,
                                           const std::function<void()>& run);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SERVICE_SERVICE_DISPATCH_H_
