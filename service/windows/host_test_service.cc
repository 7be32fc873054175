// A service on the real host and dispatcher, for the tests under the
// service control manager: it writes each handler call, a line each, to
// host_test_service.calls beside it, and loops until stopped.
#include <fstream>
#include <memory>

#include "core/event_writer.h"
#include "platform/time/clock.h"
#include "platform/eventlog/event_log.h"
#include "platform/service/service_manager.h"
#include "platform/service/scm_test_support_windows.h"
#include "service/control_queue.h"
#include "service/service_host.h"
#include "service/service_process.h"
#include "service/window_loop.h"

namespace quarrin {
namespace {

constexpr char kName[] = "QuarrinHostTestService";

class RecordingHandlers final : public ServiceHandlers {
 public:
  explicit RecordingHandlers(ServiceHost& host) : host_(host) {}
  void ServiceStart(bool&) override { Note("start"); }
  void ServiceExecute() override {
    Note("execute");
    // Waits as long as it may: only a request ends the wait.
    while (true) {
      host_.DeliverControlRequests();
      if (host_.StopRequested()) break;
      host_.WaitUntil(AddMilliseconds(SystemClock().Now(), 3600000));
    }
  }
  void ServiceStop(bool&) override { Note("stop"); }
  void ServiceShutdown() override { Note("shutdown"); }

 private:
  static void Note(const char* call) {
    std::ofstream(testing::BesideRunner("host_test_service.calls"), std::ios::app) << call << "\n";
  }
  ServiceHost& host_;
};

}  // namespace
}  // namespace quarrin

int main() {
  using namespace quarrin;
  std::unique_ptr<EventLog> log = OpenEventLog("");
  EventWriter events(*log, kName);
  std::unique_ptr<StatusReporter> status = MakeStatusReporter(kName);
  ControlQueue queue;
  SystemLoopWaiter waiter(queue, SystemClock());
  ServiceHost host(events, *status, queue, waiter);
  RecordingHandlers handlers(host);
  WindowLoop window_loop;
  return RunServiceProcess(host, handlers, window_loop);
}
