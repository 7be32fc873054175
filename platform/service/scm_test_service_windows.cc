// A small service for the tests of the service control manager: it runs
// until stopped, takes pause and continue, and accepts custom codes.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>

#include "platform/service/service_dispatch.h"
#include "platform/service/service_manager.h"

namespace {

constexpr char kName[] = "QuarrinScmTestService";

std::mutex mu;
std::condition_variable cv;
std::deque<uint32_t> codes;

uint32_t NextCode() {
  std::unique_lock lock(mu);
  cv.wait(lock, [] { return !codes.empty(); });
  uint32_t code = codes.front();
  codes.pop_front();
  return code;
}

}  // namespace

int main() {
  using namespace quarrin;
  std::unique_ptr<StatusReporter> reporter = MakeStatusReporter(kName);
  auto report = [&](ServiceState state) {
    ServiceStatus status;
    status.state = state;
    status.controls_accepted =
        state == ServiceState::kStartPending ? 0 : kAcceptStop | kAcceptPauseContinue | kAcceptShutdown;
    reporter->Report(status, nullptr);
  };
  auto failure = DispatchService(
      kName,
      [](uint32_t code) {
        {
          std::lock_guard lock(mu);
          codes.push_back(code);
        }
        cv.notify_all();
      },
      [&] {
        report(ServiceState::kStartPending);
        ServiceState state = ServiceState::kRunning;
        report(state);
        while (true) {
          const uint32_t code = NextCode();
          if (code == kControlStop || code == kControlShutdown) break;
          if (code == kControlPause) {
            report(ServiceState::kPausePending);
            report(state = ServiceState::kPaused);
          } else if (code == kControlContinue) {
            report(ServiceState::kContinuePending);
            report(state = ServiceState::kRunning);
          } else {
            report(state);
          }
        }
        report(ServiceState::kStopPending);
        report(ServiceState::kStopped);
      });
  if (failure) {
    std::fprintf(stderr, "%s\n", failure->c_str());
    return 1;
  }
  return 0;
}
