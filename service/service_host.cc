#include "service/service_host.h"

#include <cstdio>
#include <exception>

namespace quarrin {
namespace {

std::string ErrorText(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

ServiceHost::ServiceHost(const EventWriter& events, StatusReporter& status, ControlQueue& queue,
                         LoopWaiter& waiter)
    : events_(events), status_(status), queue_(queue), waiter_(waiter) {}

void ServiceHost::Report(ServiceState state) {
  state_ = state;
  ServiceStatus status;
  status.state = state;
  status.controls_accepted =
      state == ServiceState::kStartPending ? 0 : kAcceptStop | kAcceptPauseContinue | kAcceptShutdown;
  std::string error;
  if (!status_.Report(status, &error)) {
    events_.WriteEventLog(error, EventType::kError, 0, 0);
  }
}

void ServiceHost::Failed(const std::string& what, const std::string& message) const {
  events_.WriteEventLog("Service failed on " + what + ": " + message, EventType::kError, 0, 0);
}

void ServiceHost::RunService(ServiceHandlers& handlers) {
  handlers_ = &handlers;
  stop_requested_ = false;
  Report(ServiceState::kStartPending);
  const char* phase = "start";
  try {
    Report(ServiceState::kStartPending);
    bool started = true;
    handlers.ServiceStart(started);
    if (started) {
      phase = "execute";
      Report(ServiceState::kRunning);
      handlers.ServiceExecute();
      DeliverControlRequests();
    }
  } catch (...) {
    Failed(phase, ErrorText(std::current_exception()));
  }
  Report(ServiceState::kStopped);
  handlers_ = nullptr;
}

void ServiceHost::PostControl(uint32_t code) {
  if (code == kControlStop || code == kControlShutdown) stop_flag_.Set();
  queue_.Post(code);
}

void ServiceHost::DeliverControlRequests() {
  while (auto code = queue_.TryTake()) Handle(*code);
}

void ServiceHost::Handle(uint32_t code) {
  ServiceState noted = state_;
  try {
    switch (code) {
      case kControlStop: {
        Report(ServiceState::kStopPending);
        bool stopped = true;
        if (handlers_) handlers_->ServiceStop(stopped);
        if (stopped) {
          stop_requested_ = true;
        } else {
          stop_flag_.Clear();
          Report(noted);
        }
        break;
      }
      case kControlPause:
        Report(ServiceState::kPausePending);
        Report(ServiceState::kPaused);
        // Suspended until the next request arrives; it is handled right after.
        queue_.WaitForRequest();
        break;
      case kControlContinue:
        Report(ServiceState::kContinuePending);
        Report(ServiceState::kRunning);
        break;
      case kControlInterrogate:
        Report(noted);
        break;
      case kControlShutdown:
        Report(ServiceState::kStopPending);
        try {
          if (handlers_) handlers_->ServiceShutdown();
        } catch (...) {
          stop_requested_ = true;
          throw;
        }
        stop_requested_ = true;
        break;
      default:
        break;  // custom codes are accepted and do nothing
    }
  } catch (...) {
    std::string message = ErrorText(std::current_exception());
    if (code == kControlStop && !stop_requested_) stop_flag_.Clear();  // it runs on
    if (code != kControlShutdown) Report(noted);
    static constexpr const char* kNames[] = {"", "stop", "pause", "continue", "interrogate",
                                             "shutdown"};
    if (code >= kControlStop && code <= kControlShutdown) {
      Failed(kNames[code], message);
    } else {
      events_.WriteEventLog("Service failed in custom message(" + std::to_string(code) +
                                "): " + message,
                            EventType::kError, 0, 0);
    }
  }
}

}  // namespace quarrin
