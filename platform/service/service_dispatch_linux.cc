// Control requests as signals: SIGTERM and SIGINT are stop, SIGPWR is
// shutdown, SIGRTMIN carries any code as its value.
#include "platform/service/service_dispatch.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/text/ascii.h"

namespace quarrin {
namespace {

// SIGUSR2 only tells the dispatching thread to end.
constexpr int kQuitSignal = SIGUSR2;

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGPWR);
  sigaddset(&set, SIGRTMIN);
  sigaddset(&set, kQuitSignal);
  return set;
}

}  // namespace

void PrepareServiceControl() {
  sigset_t set = ControlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool StartedByServiceManager(const std::string& service_name) {
  const char* scm = std::getenv("QUARRIN_SCM");
  return scm && EqualsIgnoringAsciiCase(service_name, scm);
}

std::optional<std::string> DispatchService(const std::string&,
                                           const std::function<void(uint32_t)>& control,
                                           const std::function<void()>& run) {
  PrepareServiceControl();
  std::atomic<bool> stopping{false};
  const pthread_t dispatcher = pthread_self();
  std::thread service([&] {
    run();
    stopping = true;
    pthread_kill(dispatcher, kQuitSignal);
  });

  const sigset_t set = ControlSignals();
  while (true) {
    siginfo_t info;
    int sig = sigwaitinfo(&set, &info);
    if (sig < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (sig == kQuitSignal && stopping) break;
    if (sig == SIGTERM || sig == SIGINT) {
      control(1);
    } else if (sig == SIGPWR) {
      control(5);
    } else if (sig == SIGRTMIN) {
      control(static_cast<uint32_t>(info.si_value.sival_int));
    }
  }
  service.join();
  return std::nullopt;
}

}  // namespace quarrin
