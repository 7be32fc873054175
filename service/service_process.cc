#include "service/service_process.h"

#include <pthread.h>
#include <signal.h>
#include <strings.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

namespace quarrin {
namespace {

// SIGUSR2 only tells the signal thread to end.
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

bool EqualsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

void BlockControlSignals() {
  sigset_t set = ControlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int RunServiceProcess(ServiceHost& host, ServiceHandlers& handlers, WindowLoop& window_loop) {
  BlockControlSignals();
  std::atomic<bool> stopping{false};

  // The dispatcher: turns signals into control codes for the service thread.
  std::thread dispatcher([&] {
    sigset_t set = ControlSignals();
    while (true) {
      siginfo_t info;
      int sig = sigwaitinfo(&set, &info);
      if (sig < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (sig == kQuitSignal && stopping) return;
      if (sig == SIGTERM || sig == SIGINT) {
        host.PostControl(1);
      } else if (sig == SIGPWR) {
        host.PostControl(5);
      } else if (sig == SIGRTMIN) {
        host.PostControl(static_cast<uint32_t>(info.si_value.sival_int));
      }
    }
  });

  std::thread service([&] {
    host.RunService(handlers);
    window_loop.Quit();
  });

  window_loop.Run();
  service.join();
  stopping = true;
  pthread_kill(dispatcher.native_handle(), kQuitSignal);
  dispatcher.join();
  return 0;
}

ServiceSwitches ParseServiceSwitches(const std::vector<std::string>& args) {
  ServiceSwitches s;
  for (const auto& arg : args) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) continue;
    std::string word = arg.substr(1);
    if (EqualsNoCase(word, "INSTALL")) s.install = true;
    if (EqualsNoCase(word, "UNINSTALL")) s.uninstall = true;
    if (EqualsNoCase(word, "SILENT")) s.silent = true;
  }
  if (s.install) s.uninstall = false;
  return s;
}

bool StartedByServiceManager(const std::string& service_name) {
  const char* scm = std::getenv("QUARRIN_SCM");
  return scm && EqualsNoCase(service_name, scm);
}

}  // namespace quarrin
