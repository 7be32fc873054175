// The service host: the layer between the service manager and the service
// class. It owns the control requests, the status reports and the handler
// calls, and offers the loop DeliverControlRequests and StopRequested.
#ifndef QUARRIN_SERVICE_SERVICE_HOST_H_
#define QUARRIN_SERVICE_SERVICE_HOST_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/event_writer.h"
#include "platform/sync/cancel_flag.h"
#include "platform/service/service_manager.h"
#include "service/control_queue.h"

namespace quarrin {

// The handlers a service class supplies; all run on the service thread.
class ServiceHandlers {
 public:
  virtual ~ServiceHandlers() = default;
  virtual void ServiceStart(bool& started) = 0;
  virtual void ServiceExecute() = 0;
  virtual void ServiceStop(bool& stopped) = 0;
  virtual void ServiceShutdown() = 0;
};

class ServiceHost {
 public:
  // All references must outlive the host. `events` writes under the
  // service's name.
  ServiceHost(const EventWriter& events, StatusReporter& status, ControlQueue& queue,
              LoopWaiter& waiter);

  const std::string& name() const { return events_.source(); }
  // The writer for messages before the service exists, under the
  // executable's name; the service's own until one is set (it must outlive
  // the host).
  const EventWriter& process_events() const {
    return process_events_ ? *process_events_ : events_;
  }
  void set_process_events(const EventWriter* events) { process_events_ = events; }

  // Called on the dispatcher thread for every control request: queues it for
  // the service thread (which it wakes when paused). A stop or shutdown sets
  // the stop flag at once, so that the transfers and tasks under way give up
  // before the service thread comes to handle it.
  void PostControl(uint32_t code);

  // Runs, on the calling service thread, the handlers of all requests that
  // arrived since the last call; returns at once when there are none.
  void DeliverControlRequests();
  // Set after a stop the handler agreed to, or after a shutdown.
  bool StopRequested() const { return stop_requested_; }
  // Set as soon as a stop or shutdown is posted; cleared again when the
  // handler refuses the stop. Safe for concurrent use by multiple threads.
  const CancelFlag& stop_flag() const { return stop_flag_; }
  bool StopPending() const { return stop_flag_.IsSet(); }
  // Waits until the wall clock passes `deadline` or a request arrives.
  void WaitUntil(DateTime deadline) { waiter_.WaitUntil(deadline); }

  // The service thread: start pending, ServiceStart, running, ServiceExecute,
  // the requests still pending, stopped. Never throws.
  void RunService(ServiceHandlers& handlers);

  ServiceState state() const { return state_; }

 private:
  void Report(ServiceState state);
  void Handle(uint32_t code);
  void Failed(const std::string& what, const std::string& message) const;

  const EventWriter& events_;
  const EventWriter* process_events_ = nullptr;
  StatusReporter& status_;
  ControlQueue& queue_;
  LoopWaiter& waiter_;
  ServiceHandlers* handlers_ = nullptr;
  std::atomic<ServiceState> state_{ServiceState::kStopped};
  bool stop_requested_ = false;
  CancelFlag stop_flag_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_SERVICE_HOST_H_
